// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// What the engine needs from whoever hosts it: the window, the command line or a test.
// The engine reads the few control values it depends on through here and tells the host what
// to show; it never touches a widget itself. All calls happen on the UI thread.
class EngineHost
{
public:
    enum class MessageIcon { Information, Warning, Error };

    virtual ~EngineHost() = default;

    // --- read from controls
    virtual int SelectedOutputType() const = 0;      // combo box 1061; -1 when none
    virtual int SelectedProfileRow() const = 0;      // list box 1065; -1 when none
    virtual QString OutputDirectoryText() const = 0; // edit 1021
    virtual bool ShutdownAfterBatch() const = 0;     // check box 1059

    // --- task list view
    // Repaint the cells of one column from firstRow to lastRow. Never calls back into the engine.
    virtual void InvalidateCells(int firstRow, int lastRow, int column, bool erase) = 0;

    // --- profile catalog controls (static 1066, list box 1065)
    virtual void SetProfileDescription(const QString &text) = 0;
    virtual void ResetProfileList() = 0;
    virtual void AddProfileRow(const QString &title) = 0;
    virtual void SetProfileSelection(int row) = 0; // -1: nothing selected

    // --- batch
    virtual void ShowConvertingButtons(bool converting) = 0; // true: Start hidden, Stop shown
    virtual void EnableOutputSettings(bool enable) = 0;      // 1061, 1065, 1059
    virtual void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) = 0;
    virtual void StopPreview() = 0;
    // A task failed; reason is one sentence in plain words (the log has the details).
    virtual void ReportTaskFailure(int row, const QString &reason);
    // Where the person can see which tasks of a batch failed and why, for the closing
    // message: "see the Progress column".
    virtual QString WhereFailuresAre(const QList<int> &failedRows) const;
};
