// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/outputtail.h"

void OutputTail::Append(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c == '\n') {
            Commit();
        } else if (c == '\r') {
            rewind = true;
        } else {
            if (rewind)
                current.clear();
            rewind = false;
            current.append(c);
        }
    }
}

void OutputTail::Commit()
{
    lines.append(current);
    current.clear();
    rewind = false;
    while (lines.size() > maxLines)
        lines.removeFirst();
}

void OutputTail::Clear()
{
    lines.clear();
    current.clear();
    rewind = false;
}

QStringList OutputTail::Lines() const
{
    QStringList result;
    for (const QByteArray &line : lines)
        result.append(QString::fromUtf8(line));
    if (!current.trimmed().isEmpty())
        result.append(QString::fromUtf8(current));
    while (result.size() > maxLines)
        result.removeFirst();
    return result;
}
