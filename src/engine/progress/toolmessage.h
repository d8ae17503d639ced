// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "run/runresult.h"

#include <QString>
#include <QStringList>

// What a tool's last lines mean to someone who never ran the tool: the log keeps the lines as
// they were, the user is told in our own words.
namespace ToolMessage {

// A line where the tool says it could not write its file. ffmpeg reports a full disk or a
// file-size limit met while it closes its file, and may still end with exit code 0.
QString WriteErrorLine(const QStringList &lines);
// How the tool ended, for the log: "the tool ended with exit code 1".
QString Status(const RunResult &result);
// The last status line of a first pass says how many pictures it encoded; none means the
// source had none to give in the part asked for (an unreadable stream, a trim past its end).
bool EncodedNoPicture(const QStringList &lastLines);
// One sentence for the user: the tool, how it ended and the last line that tells why, put in
// plain words where we know the tool's own ("No space left on device": "the disk is full").
QString Reason(const RunResult &result, const QString &status);
// One sentence for the user when a tool the profile names is nowhere to be found: the tool and
// what to install to have it ("AtomicParsley was not found: install the atomicparsley package").
QString NotFound(const QString &tool);

} // namespace ToolMessage
