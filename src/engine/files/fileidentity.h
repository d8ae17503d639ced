// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

// What tells one file from another that later takes its name: the device and inode, with the
// birth time where the file system keeps one (an inode number is soon given to a new file),
// and the size and times that change whenever the file is written.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 birthNs = 0; // 0 where the file system does not say
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    qint64 size = -1; // -1: no file

    // The entry at the path itself (a symbolic link is not followed).
    static FileIdentity Of(const QString &path);
    // The file a path names, symbolic links followed.
    static FileIdentity OfTarget(const QString &path);

    bool Exists() const { return size >= 0; }
    // The same file, whatever was written into it since.
    bool SameFile(const FileIdentity &other) const;
    // The same file, not written, renamed over or given other rights since.
    bool Untouched(const FileIdentity &other) const;

    QJsonObject ToJson() const;
    static FileIdentity FromJson(const QJsonObject &object);
};
