// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct ConversionTask;

// Columns of the task list view, left to right.
enum TaskColumn : int {
    COL_SOURCE = 0,
    COL_BEGIN = 1,
    COL_END = 2,
    COL_OUTPUT = 3,
    COL_PROGRESS = 4,
};

// Seconds, truncated toward zero, as "HH:MM:SS"; the hours take as many digits as they need.
QString FormatClock(double seconds);
// The whole-number percentage that a running task shows: 0..98, then 100 from 98.5 % on.
int ProgressPercent(const ConversionTask &task);
// The Progress column's text for a task (the progress line, a stage name or nothing).
QString ProgressText(const ConversionTask &task);
// Whether a running first pass has figures to show as a bar.
bool HasProgressToShow(const ConversionTask &task);
