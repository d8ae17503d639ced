// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// One subtitle: shown from `start` up to (not including) `end`, in seconds. The text is plain:
// markup is gone, lines are separated by '\n'.
struct SubtitleCue {
    double start = 0.0;
    double end = 0.0;
    QString text;

    bool operator==(const SubtitleCue &other) const = default;
};

// The cues read from one subtitle file or stream, in the order they start.
class SubtitleTrack
{
public:
    QList<SubtitleCue> cues;
    int skipped = 0; // entries that could not be read (a broken time, no text)

    // Puts the cues in the order they start (a stable sort: equal starts keep file order).
    void Sort();
    // The cues as an output shows them when it begins at `begin` seconds of the source and
    // lasts `length` seconds: times moved back by `begin`, cut to [0, length]; cues wholly
    // outside are dropped.
    SubtitleTrack Trimmed(double begin, double length) const;
};
