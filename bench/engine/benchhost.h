// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginehost.h"

// A host that shows nothing: the benchmarks measure the engine alone.
class BenchHost : public EngineHost
{
public:
    int SelectedOutputType() const override { return 0; }
    int SelectedProfileRow() const override { return 0; }
    QString OutputDirectoryText() const override { return QString(); }
    bool ShutdownAfterBatch() const override { return false; }
    void InvalidateCells(int, int, int, bool) override {}
    void SetProfileDescription(const QString &) override {}
    void ResetProfileList() override {}
    void AddProfileRow(const QString &) override {}
    void SetProfileSelection(int) override {}
    void ShowConvertingButtons(bool) override {}
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &, const QString &, MessageIcon) override {}
    void StopPreview() override {}
};
