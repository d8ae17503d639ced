// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>

#include <functional>

#include <cstdio>

class TaskList;

// The engine's host on a terminal: the output settings come from the command line, every
// change of a task's state is one line on standard output, a running first pass shows its
// Progress text live on one rewritten line (on a terminal only), and messages go to
// standard error.
class CliHost : public EngineHost
{
public:
    CliHost(const TaskList &tasks, std::FILE *out, std::FILE *err, bool liveProgress);

    int outputType = 0;
    int profileRow = -1;
    QString folderText;
    // What LoadProfiles showed: the type's description and profile titles, the default row.
    QString description;
    QStringList profiles;
    bool descriptionSet = false;

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return folderText; }
    bool ShutdownAfterBatch() const override { return false; }

    void InvalidateCells(int firstRow, int lastRow, int column, bool erase) override;

    void SetProfileDescription(const QString &text) override;
    void ResetProfileList() override { profiles.clear(); }
    void AddProfileRow(const QString &title) override { profiles.append(title); }
    void SetProfileSelection(int row) override { profileRow = row; }

    void ShowConvertingButtons(bool) override {}
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override;
    void StopPreview() override {}

    void ReportTaskFailure(int row, const QString &reason) override;
    // A terminal has no Progress column: the closing line names the files that failed.
    QString WhereFailuresAre(const QList<int> &failedRows) const override;

    void ForgetProfiles();
    // Where the error log is, for the line that tells why a task failed.
    std::function<QString()> logPath;

private:
    struct Shown {
        int state = -1;
        int finished = 0;
    };

    void ReportRow(int row);
    void ShowLive(int row, const QString &text);
    void ClearLive();
    QString RowPrefix(int row) const;
    void Write(std::FILE *stream, const QString &text);

    const TaskList &tasks;
    std::FILE *out;
    std::FILE *err;
    bool liveProgress;
    QHash<int, Shown> shown;
    bool liveShown = false;
    QElapsedTimer liveClock;
};
