// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// A host for engine tests: answers the two selections it is given and records what the
// engine asked it to show. onPump runs inside every PumpMessages, like a nested handler.
class RecordingHost : public EngineHost
{
public:
    struct Invalidation {
        int firstRow, lastRow, column;
        bool erase;
    };

    int outputType = 0;
    int profileRow = 0;
    QString description = QStringLiteral("<unset>");
    QStringList rows;
    int selection = -2; // -2: never set
    int resets = 0;
    int pumps = 0;
    QList<Invalidation> invalidations;
    std::function<void()> onPump;

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return QString(); }
    bool ShutdownAfterBatch() const override { return false; }
    void InvalidateCells(int firstRow, int lastRow, int column, bool erase) override
    {
        invalidations.append({firstRow, lastRow, column, erase});
    }
    void PumpMessages() override
    {
        ++pumps;
        EngineHost::PumpMessages();
        if (onPump)
            onPump();
    }
    void SetProfileDescription(const QString &text) override { description = text; }
    void ResetProfileList() override
    {
        ++resets;
        rows.clear();
    }
    void AddProfileRow(const QString &title) override { rows.append(title); }
    void SetProfileSelection(int row) override { selection = row; }
    void ShowConvertingButtons(bool) override {}
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &, const QString &, MessageIcon) override {}
    void StopPreview() override {}
};
