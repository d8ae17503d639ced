// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// Tells when a program's batch ended, however it ended. A small shell started in a session of
// its own waits on a socket whose only other end this program holds. When that end closes
// without a word (the program was killed, or left its journal behind), the shell waits for the
// tools the program said were running to die with it (the parent-death signal reaches them a
// moment after the socket closes), then creates a marker file: the marker's time is the moment
// the program and its tools died, within a few milliseconds, so a file written after it was
// written by someone else. A program that ends its batch normally says goodbye
// first and no marker is made. Killed with the program (kill of both), it marks nothing, and
// recovery falls back on the journal's heartbeat.
class JournalWatcher
{
public:
    JournalWatcher() = default;
    // As Stop(false).
    ~JournalWatcher();
    JournalWatcher(const JournalWatcher &) = delete;
    JournalWatcher &operator=(const JournalWatcher &) = delete;

    // Starts the watcher for this marker path; false when it could not be started.
    bool Start(const QString &markerPath);
    // A tool the program started (running) or that has ended.
    void Tool(qint64 toolPid, bool running);
    // Ends the watcher: with markEnd, it makes its marker as though the program had died.
    void Stop(bool markEnd);

    qint64 Pid() const { return pid; }
    qint64 StartTime() const { return start; } // clock ticks after boot, as /proc tells it

private:
    int socket = -1;
    qint64 pid = -1;
    qint64 start = -1;
};
