// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fit/picturerate.h"

#include <QList>
#include <QString>

// One part of a task cut into parts: a trim of its own, on the output's picture clock.
struct Part {
    int number = 1;          // from 1
    double beginSeconds = 0; // of the source, as trim times count
    double endSeconds = 0;
    qint64 firstFrame = 0; // of the whole task's output
    qint64 frames = 0;
    // How much earlier than its begin the part's first pass starts reading (see PartPlan).
    double leadSeconds = 0;

    double Seconds() const { return endSeconds - beginSeconds; }
};

// Cuts a task's trim into parts that together hold every picture the task would hold in one
// piece, no picture twice. The first pass lays its pictures on a clock that starts at the
// trim's begin (-ss, then fps with start_time=0), so each cut is placed on that clock: a whole
// number of the output's frames after the begin, and where the rate allows a whole number of
// milliseconds, so that the times reach the tools exact (they are written to the microsecond,
// never above the value). Each part then starts its own clock exactly where the one piece's
// clock stood.
//
// The clock alone is not enough: the picture the one piece shows at a cut may be a source
// frame from up to half a picture before it, which a part starting there never reads (a 25 fps
// source begun between two frames meets this at every cut). So a part after the first reads
// from a lead-in of whole pictures before its begin (at least `leadSeconds`, never before the
// task's begin), on the same clock, and drops it at the output: its first picture and its
// first sound sample are then the one piece's at the cut.
class PartPlan
{
public:
    enum class Lengths {
        Even,  // as few parts as the longest allows, all of one length (the last a little less)
        Fixed, // parts of the longest length, the rest in the last
    };

    // The parts of begin..end with at most maxFrames pictures each at the output's `rate`; empty
    // when the rate is unknown or maxFrames is below 1. A trim that fits one part is one part.
    static QList<Part> Cut(double begin, double end, const FrameRate &rate, qint64 maxFrames,
                           Lengths lengths);
    // Covers a source that shows a picture only every two seconds.
    static constexpr double leadSeconds = 2.0;
    // The pictures a trim of this length gives at `rate`: those that start before its end.
    static qint64 FrameCount(double seconds, const FrameRate &rate);
    // "Name (part 1 of 3)": a part's output base name; the base itself for a task of one part.
    static QString Name(const QString &base, int number, int count);
};
