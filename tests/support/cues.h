// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Subtitle cues written as one line of text and read back from it, for tables of cues; bytes
// that no subtitle file holds; and the frames of a video as grey pictures, to find drawn text.

#include "support.h"

#include "subtitles/subtitletrack.h"

#include <QImage>
#include <QRect>
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

// Bytes no text file holds, the same at every run.
inline QByteArray Junk(qsizetype size)
{
    QByteArray bytes(size, '\0');
    quint32 state = 54321;
    for (char &b : bytes)
        b = char((state = state * 1103515245u + 12345u) >> 24);
    return bytes;
}

// The brightness of the frames ffmpeg writes in the profiles' pixel format, as 8-bit grey
// pictures of `size`.
inline QList<QImage> GreyFrames(const QStringList &arguments, QSize size)
{
    const QByteArray raw =
        RunTool("ffmpeg", QStringList{"-hide_banner", "-nostdin", "-v", "error"}
                              << arguments
                              << QStringList{"-pix_fmt", "yuv420p", "-f", "rawvideo", "-"})
            .out;
    QList<QImage> frames;
    const qsizetype luma = qsizetype(size.width()) * size.height();
    for (qsizetype at = 0; at + luma * 3 / 2 <= raw.size(); at += luma * 3 / 2)
        frames.append(QImage(reinterpret_cast<const uchar *>(raw.constData() + at), size.width(),
                             size.height(), size.width(), QImage::Format_Grayscale8)
                          .copy());
    return frames;
}

// The rectangle of pixels brighter than `level`; empty when there are none.
inline QRect Ink(const QImage &image, int level = 200)
{
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.constScanLine(y)[x] > level)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

} // namespace support
