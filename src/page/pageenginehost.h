// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"

class CKestraniDlg;

// The conversion engine's view of the window: it reads the output settings from the page's
// controls and shows the batch's effects on them.
class CPageEngineHost : public EngineHost
{
public:
    explicit CPageEngineHost(CKestraniDlg &page) : page(page) {}

    int SelectedOutputType() const override;
    int SelectedProfileRow() const override;
    QString OutputDirectoryText() const override;
    bool ShutdownAfterBatch() const override;

    void InvalidateCells(int firstRow, int lastRow, int column, bool erase) override;

    void SetProfileDescription(const QString &text) override;
    void ResetProfileList() override;
    void AddProfileRow(const QString &title) override;
    void SetProfileSelection(int row) override;

    void ShowConvertingButtons(bool converting) override;
    void EnableOutputSettings(bool enable) override;
    // Not shown once the user has closed the window: the batch is only winding down then.
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override;
    void StopPreview() override;

private:
    CKestraniDlg &page;
};
