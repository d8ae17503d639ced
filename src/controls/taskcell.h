// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"
#include "progress/progresstext.h"

class TaskList;

// Colour of the filled part of a running task's progress bar.
constexpr COLORREF PROGRESS_BAR_COLOR = 0x001C1E9Au;

// Fills one cell of the task list view from the task at cell.row: row colours, text and, for
// a running task with something to show, the progress bar. outputType is the selection of the
// output-type box (-1 for none); it decides the Output column's extension. A row outside the
// list gets its colours and no text.
void FillTaskCell(const TaskList &tasks, int outputType, CellInfo &cell);
