// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The largest file a user allows, as typed in the window or after --max-size: "300K", "1M",
// "1048576", "300 KB", "1.5 MB". K is 1024 bytes and M 1024 K, as phones and their networks
// count; the limit is on the whole file as it lies on disk.
class SizeLimit
{
public:
    static constexpr qint64 KB = 1024;
    static constexpr qint64 MB = 1024 * KB;
    // No file of ours comes near it; above it a typing slip is more likely than a wish.
    static constexpr qint64 largest = 4 * 1024 * MB;

    // The limit in bytes; 0 when the text is no usable limit, with the reason in *error
    // (empty, not a size, 0 or negative, more than `largest`).
    static qint64 Parse(const QString &text, QString *error = nullptr);
    // The reason a parsed limit is still refused: it cannot hold one second of even the
    // smallest profile, whose second takes `smallestSecond` bytes. Empty when it can.
    static QString TooSmall(qint64 bytes, qint64 smallestSecond);
    // The limit as people write it, exactly: "300 KB", "1 MB", "1.5 MB", "1000 bytes".
    static QString Text(qint64 bytes);
};
