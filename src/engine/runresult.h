// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What one run of an encoder tool came to, for the batch driver and the log.
struct RunResult {
    bool started = false;       // the tool was found and started
    bool finished = false;      // the tool has ended (false when a cancel returned first)
    int exitCode = -1;          // valid when finished and not crashed
    bool crashed = false;       // ended by a signal or an abnormal exit
    bool cancelled = false;     // returned because cancelRequested was set
    bool quitRequested = false; // "q" was sent during this run
    QString errorText;          // why it did not start, or why reading failed
    QStringList lastLines;      // the tail of the tool's console output

    // A tool that ran to its end on its own and reported success.
    bool Succeeded() const { return started && finished && !crashed && exitCode == 0; }
};
