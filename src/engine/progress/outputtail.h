// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

// Keeps the last lines of a tool's console output for the log, as a terminal would show them:
// a carriage return starts the line again, so a status line that rewrites itself counts once.
class OutputTail
{
public:
    explicit OutputTail(int maxLines = 20) : maxLines(maxLines) {}

    void Append(QByteArrayView bytes);
    void Clear();
    // The kept lines, oldest first, with the unfinished last line if it holds anything.
    QStringList Lines() const;

private:
    void Commit();

    int maxLines;
    QList<QByteArray> lines;
    QByteArray current;
    bool rewind = false; // a '\r' arrived: the next byte starts the current line again
};
