// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "subtitles/subtitlestream.h"

#include <QList>
#include <QString>

// What a source file offers to a conversion, read from its headers and a few packets.
struct SourceInfo {
    bool readable = false; // opened, and its streams were found
    bool hasVideo = false; // a picture stream (not cover art) that can be decoded
    int audioIndex = -1;   // N of "0:a:N": the first audio stream carrying sound; -1 when none
    bool hasAudioStreams = false; // any audio stream at all, usable or not
    // The chosen sound is AMR-NB stored several frames to a packet: ffmpeg's own decoder keeps
    // only the first frame of each, so a conversion would lose most of the sound.
    bool multiFrameAmr = false;
    double durationSeconds = -1.0; // -1 when the container does not say
    // Where the picture and the chosen sound really end, in seconds of the source's clock (as
    // trim times count): the last packet's time and showing time, whatever the header promises;
    // -1 when nothing says. A picture may end before the container, or the header's length.
    double pictureEndSeconds = -1.0;
    double soundEndSeconds = -1.0;
    double lastPictureSeconds = 0.0;       // how long the last picture shows; 0 when unknown
    QList<SubtitleStream> subtitleStreams; // in the order of "0:s:N"
    // The picture's rate as the tools take it for "source_fps" (FFmpeg's best guess from the
    // stream's rates); 0/1 when it cannot be told.
    int frameRateNum = 0;
    int frameRateDen = 1;
    // Why the file cannot be converted, in words for the user, to follow the file's name
    // ("has no video stream"); empty when it can.
    QString problem;
};

// Looks at a source before any tool runs. Costs milliseconds: headers, the packets of the first
// and of the last seconds (all of them where the header promises far more than the file holds),
// and the first sound packets decoded; never the picture.
class SourceProbe
{
public:
    static SourceInfo Probe(const QString &path);
};
