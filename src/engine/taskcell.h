// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

#include <QString>

class TaskList;
struct ConversionTask;

// Columns of the task list view, left to right.
enum TaskColumn : int {
    COL_SOURCE = 0,
    COL_BEGIN = 1,
    COL_END = 2,
    COL_OUTPUT = 3,
    COL_PROGRESS = 4,
};

// Colour of the filled part of a running task's progress bar.
constexpr COLORREF PROGRESS_BAR_COLOR = 0x001C1E9Au;

// Seconds, truncated toward zero, as "HH:MM:SS"; the hours take as many digits as they need.
QString FormatClock(double seconds);

// The whole-number percentage that a running task shows: 0..98, then 100 from 98.5 % on.
int ProgressPercent(const ConversionTask &task);

// The Progress column's text for a task (the progress line, a stage name or nothing).
QString ProgressText(const ConversionTask &task);

// Fills one cell of the task list view from the task at cell.row: row colours, text and, for
// a running task with something to show, the progress bar. outputType is the selection of the
// output-type box (-1 for none); it decides the Output column's extension. A row outside the
// list gets its colours and no text.
void FillTaskCell(const TaskList &tasks, int outputType, CellInfo &cell);
