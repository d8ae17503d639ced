// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

// What tells one version of a file from another without reading it: the absolute path, the size
// and the modification time to the finest step the file system keeps. Two stamps compare equal
// only when both files existed.
struct FileStamp {
    QString path;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;

    static FileStamp Of(const QString &file);

    bool IsValid() const { return size >= 0; }
    bool operator==(const FileStamp &other) const
    {
        return IsValid() && path == other.path && size == other.size &&
               modifiedNs == other.modifiedNs;
    }
};
