// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

// The owner of a task list answers its cell requests and hears of cell and header clicks.
// All calls are synchronous, on the UI thread, from inside the list's painting or event
// handling; the records are valid only during the call.
class ICellInfoOwner
{
public:
    virtual ~ICellInfoOwner() = default;
    // Fill in what the cell should show; the record arrives reset to its defaults.
    virtual void OnGetCellInfo(CellInfo &info) = 0;
    virtual void OnCellClicked(const CellHitInfo &) {}
    virtual void OnHeaderRClicked(const HeaderClickInfo &) {}
};
