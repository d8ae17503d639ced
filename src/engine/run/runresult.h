// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What one run of an encoder tool came to, for the task and the log.
struct RunResult {
    bool started = false;       // the tool was found and started
    bool finished = false;      // the tool has ended
    int exitCode = -1;          // valid when finished and not crashed
    bool crashed = false;       // ended by a signal or an abnormal exit
    bool cancelled = false;     // ended by a Stop
    bool quitRequested = false; // "q" was sent during this run
    bool stalled = false;       // ended because it made no progress for too long
    bool diskFull = false;      // ...and the disk it writes to was full
    QString program;            // the tool as started (resolved)
    QString errorText;          // why it did not start, or why reading failed
    QStringList lastLines;      // the tail of the tool's console output

    // A tool that ran to its end on its own and reported success.
    bool Succeeded() const
    {
        return started && finished && !crashed && !cancelled && !stalled && exitCode == 0;
    }
};
