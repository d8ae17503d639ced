// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "subtitles/burninstyle.h"
#include "subtitles/subtitletrack.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// The ASS script the first pass burns into the picture: one style (BurnInStyle), and events
// that never overlap and never hold more than two lines. Cues that overlap share the time
// they overlap; a cue too long for two lines shows as pages of two, each for a share of its
// time after its length.
class BurnInScript
{
public:
    struct Event {
        double start = 0, end = 0; // seconds of the output
        QStringList lines;

        bool operator==(const Event &other) const = default;
    };

    static QList<Event> Events(const SubtitleTrack &track, const BurnInStyle &style);
    // The script, UTF-8: cue times are those of the output (the track trimmed already).
    static QByteArray Write(const SubtitleTrack &track, const BurnInStyle &style);
    // Text as the renderer shows it literally: braces and backslashes lose their meaning.
    static QString Escaped(const QString &line);
    // "H:MM:SS.CC", to the nearest hundredth.
    static QString Time(double seconds);
};
