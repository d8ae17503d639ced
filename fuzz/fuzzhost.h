// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"

#include <QStringList>

// The smallest host that lets the engine run: it answers with fixed selections and keeps
// what the profile catalog shows, so a target can check it.
class FuzzHost : public EngineHost
{
public:
    int outputType = 0;
    int profileRow = 0;
    QString description;
    QStringList rows;
    int selection = -1;
    int invalidations = 0;

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return QString(); }
    bool ShutdownAfterBatch() const override { return false; }
    void InvalidateCells(int, int, int, bool) override { ++invalidations; }
    void SetProfileDescription(const QString &text) override { description = text; }
    void ResetProfileList() override { rows.clear(); }
    void AddProfileRow(const QString &title) override { rows.append(title); }
    void SetProfileSelection(int row) override { selection = row; }
    void ShowConvertingButtons(bool) override {}
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &, const QString &, MessageIcon) override {}
    void StopPreview() override {}
};
