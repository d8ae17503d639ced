// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonArray>
#include <QString>
#include <QtGlobal>

// The processes of this machine as /proc tells them: what recovery needs to tell a process a
// gone program left behind from one that has since been given its number.
namespace processes {

struct Info {
    qint64 pid = 0;
    qint64 group = 0;
    qint64 start = -1; // clock ticks after boot; -1: no such process
    char state = '?';
};

Info Read(qint64 pid);
// This boot of this machine: process numbers and start times mean something only within it.
QString BootId();
// True while the process that had this number and start time still runs (not a zombie).
bool StillRunning(qint64 pid, qint64 start);
// Kills what is left of the journaled process groups ({"id", "start"} of each leader) and
// waits a little for them to be gone; returns how many processes were killed.
int KillGroups(const QJsonArray &groups);

} // namespace processes
