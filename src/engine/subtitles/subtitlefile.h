// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "subtitles/subtitletrack.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

// A subtitle file read whole: its encoding found, its cues parsed. Anything that is not a
// regular file of readable size is refused before a byte is read (a pipe named .srt would
// never end), and a file that yields no cue says why.
class SubtitleFile
{
public:
    struct Result {
        SubtitleTrack track;
        QByteArray encoding;
        // Why no cue could be read, in words to follow the file's name ("holds no subtitle
        // that can be read"); empty when the track has cues.
        QString problem;
    };

    // Real subtitle files are well under a megabyte; this leaves room for any of them.
    static constexpr qint64 maxBytes = 32 * 1024 * 1024;

    static Result Read(const QString &path, const QLocale &locale = QLocale::system());
    // The same for text already in memory, `name` giving its format by its extension.
    static Result FromBytes(const QByteArray &bytes, const QString &name,
                            const QLocale &locale = QLocale::system());
};
