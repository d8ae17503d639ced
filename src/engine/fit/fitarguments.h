// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fit/picturerate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct SoundRate;

// Changes the expanded arguments of a profile's passes (program first) for a size limit and
// for parts: the rates a plan chose, the two runs of a two-pass picture, and the lead-in of a
// part. Each change touches only the options it names and leaves an argument list it does not
// recognise as it was (the function then says false).
class FitArguments
{
public:
    // "-b:v" set to `bits` per second; a "-bt" (the one-pass tolerance) scaled alike.
    static bool SetPictureRate(QStringList &arguments, double bits);
    // The sound rate the plan chose: kestrani-amrenc's "--mode"/"-m", or ffmpeg's "-b:a".
    static bool SetSoundRate(QStringList &arguments, const SoundRate &rate);

    // The first run of a two-pass picture from pass 1's arguments: the same picture without
    // the costly decisions of FFmpeg's own encoders, nothing written but the statistics,
    // "<prefix>-0.log" (and libx264's "<prefix>-0.log.mbtree"; both appear under a ".temp" name
    // first). Given an AAC rate, the run also encodes the sound as the sound pass will (same
    // resampling, that rate) and says in its last lines how many bytes it took (SoundBytes);
    // without one it leaves the sound out.
    static QStringList AnalysisRun(const QStringList &passOne, const QString &prefix,
                                   const QString &aacRate = QString());
    // The sound's bytes from the last lines of a run ("video:0kB audio:187kB ..."); -1 when
    // they do not say.
    static qint64 SoundBytes(const QByteArray &lastLines);
    // Pass 1 as the second run, reading those statistics.
    static QStringList EncodingRun(const QStringList &passOne, const QString &prefix);
    // The statistics files a prefix gives, in the order a run leaves them.
    static QStringList StatisticsFiles(const QString &prefix);

    // The fewest bits FFmpeg's own encoders (h263, mpeg4) can give the statistics run's
    // pictures, at their coarsest quantiser (31), by the model their second run plans with:
    // each picture's texture bits scale inversely with the quantiser, its other bits stay.
    // Below it their second run refuses ("bitrate too low for this video"); -1 for statistics
    // of another encoder.
    static double CoarsestBits(const QByteArray &statistics);

    // A source that does not say how long it is (a raw stream) is read through once, its
    // picture copied to nothing: a few seconds for an hour. `ffmpeg` as the program.
    static QStringList MeasureRun(const QString &source);
    // Its length from that run's last status line: its pictures at the stream's rate, or where
    // that is not known, the last picture's time and one picture more (the time counts in
    // decoding order, up to two pictures short where pictures come out of order); -1 when the
    // lines do not say.
    static double MeasuredSeconds(const QByteArray &lastLines, const FrameRate &rate);

    // A part after the first reads `leadSeconds` more before its begin, so that the picture
    // clock sees the frames the one piece would have shown at the cut: the input's -ss and -t
    // (the part's begin and length) are moved back and lengthened by the lead, and the output
    // drops it again with an -ss of its own before its -t. False, unchanged, when pass 1 has no
    // such times.
    static bool CutLeadIn(QStringList &passOne, double leadSeconds);
};
