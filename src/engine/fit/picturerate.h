// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// A picture rate as an exact fraction of frames per second: 15000/1001, 25, 15.
struct FrameRate {
    qint64 num = 0;
    qint64 den = 1;

    bool IsValid() const { return num > 0 && den > 0; }
    double Value() const { return IsValid() ? double(num) / double(den) : 0.0; }
    // How long `frames` pictures last, in seconds.
    double Seconds(qint64 frames) const { return IsValid() ? double(frames) * den / num : 0.0; }
    // The smallest number of frames that lasts a whole number of milliseconds (30000/1001: 30),
    // so that cuts after any multiple of it are written exactly.
    qint64 WholeMillisecondFrames() const;
    bool operator<(const FrameRate &other) const;
    // "15000/1001", "25", "29.97"; invalid when it is none of these or not above 0.
    static FrameRate Parse(const QString &text);
    QString Text() const; // "15000/1001", "15"
};

// How a profile's first pass turns the source's picture rate into the output's, read from
// its fps filter. Two rules are known: "min(source_fps,N)" keeps a slower source's rate and
// caps a faster one at N (within "max(F,...)": a source slower than F gets F, its pictures
// repeated); "30000/1001/max(K,ceil(30000/1001/source_fps-0.001))" takes the fastest rate that
// is a whole number of ticks of that clock, at least K ticks a picture (H.263's temporal
// reference counts them), and within "min(M,...)" at most M.
class PictureRateRule
{
public:
    // Unknown when the template has no fps filter of either shape.
    static PictureRateRule FromPassTemplate(const QString &passTemplate);

    bool IsKnown() const { return kind != Kind::Unknown; }
    // The output's rate for a source of this rate; the fastest it can be when the source's
    // rate is not known.
    FrameRate For(const FrameRate &source) const;
    FrameRate Cap() const { return For(FrameRate()); }

private:
    enum class Kind { Unknown, Capped, Ticks };
    Kind kind = Kind::Unknown;
    FrameRate rate;  // Capped: the cap; Ticks: the clock
    FrameRate floor; // Capped: the least, if any
    qint64 leastTicks = 1;
    qint64 mostTicks = 0; // 0: no most
};
