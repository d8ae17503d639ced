// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"
#include "progresstext.h"
#include "tasklist.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>

// A host for engine tests: answers the output settings it is given and records what the engine
// asked it to show. Given the task list, it also records every state each row's Progress cell
// went through (a finished task as FINISHED), which is how a test tells which pass runs.
class RecordingHost : public EngineHost
{
public:
    struct Invalidation {
        int firstRow, lastRow, column;
        bool erase;
    };
    struct Message {
        QString text, caption;
        MessageIcon icon;
    };
    static constexpr int FINISHED = 100;

    explicit RecordingHost(const TaskList *tasks = nullptr) : tasks(tasks) {}

    int outputType = 0;
    int profileRow = 0;
    QString folderText;
    bool shutdownTicked = false;
    QString description = QStringLiteral("<unset>");
    QStringList rows;
    int selection = -2; // -2: never set
    int resets = 0;
    QList<Invalidation> invalidations;
    QList<Message> messages;
    QList<bool> buttons;  // ShowConvertingButtons arguments, in order
    QList<bool> settings; // EnableOutputSettings arguments, in order
    int previewStops = 0;
    QMap<int, QString> failures;             // ReportTaskFailure reasons per row
    QMap<int, QList<int>> states;            // per row: every state (or FINISHED) its cell showed
    std::function<void(int row)> onProgress; // after a row's Progress cell was recorded

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return folderText; }
    bool ShutdownAfterBatch() const override { return shutdownTicked; }
    void InvalidateCells(int firstRow, int lastRow, int column, bool erase) override
    {
        invalidations.append({firstRow, lastRow, column, erase});
        if (column != COL_PROGRESS || !tasks)
            return;
        for (int row = firstRow; row <= lastRow && tasks->IsValidIndex(row); ++row) {
            const ConversionTask task = tasks->GetAt(row);
            const int shown = task.finished == 1 ? FINISHED : task.state;
            QList<int> &seen = states[row];
            if (seen.isEmpty() || seen.last() != shown)
                seen.append(shown);
            if (onProgress)
                onProgress(row);
        }
    }
    int Repaints(int column) const
    {
        return int(std::count_if(invalidations.begin(), invalidations.end(),
                                 [column](const Invalidation &i) { return i.column == column; }));
    }
    void SetProfileDescription(const QString &text) override { description = text; }
    void ResetProfileList() override
    {
        ++resets;
        rows.clear();
    }
    void AddProfileRow(const QString &title) override { rows.append(title); }
    void SetProfileSelection(int row) override { selection = profileRow = row; }
    void ShowConvertingButtons(bool converting) override { buttons.append(converting); }
    void EnableOutputSettings(bool enable) override { settings.append(enable); }
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override
    {
        messages.append({text, caption, icon});
    }
    void StopPreview() override { ++previewStops; }
    void ReportTaskFailure(int row, const QString &reason) override { failures[row] = reason; }

private:
    const TaskList *tasks;
};
