// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Subtitle cues written as one line of text and read back from it, for tables of cues.

#include "subtitles/subtitletrack.h"

#include <QString>
#include <QStringList>

namespace support {

// Cues as one line: "1.000-3.500 First line|second line; 4.000-5.000 Next (1 skipped)".
inline QString Summary(const SubtitleTrack &track)
{
    QStringList cues;
    for (const SubtitleCue &cue : track.cues)
        cues.append(QStringLiteral("%1-%2 %3")
                        .arg(cue.start, 0, 'f', 3)
                        .arg(cue.end, 0, 'f', 3)
                        .arg(QString(cue.text).replace(u'\n', u'|')));
    QString text = cues.join(QStringLiteral("; "));
    if (track.skipped)
        text += QStringLiteral(" (%1 skipped)").arg(track.skipped);
    return text;
}

// "1.000-3.500 text|more; ..." back into a track.
inline SubtitleTrack TrackOf(const QString &summary)
{
    SubtitleTrack track;
    for (const QString &cue : summary.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const qsizetype blank = cue.indexOf(u' ');
        const QStringList times = cue.left(blank).split(u'-');
        track.cues.append({times.value(0).toDouble(), times.value(1).toDouble(),
                           cue.mid(blank + 1).replace(u'|', u'\n')});
    }
    return track;
}

} // namespace support
