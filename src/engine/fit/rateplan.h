// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fit/fitprofile.h"

#include <QString>

// What a task brings to a plan: its trimmed length, whether it has sound, the picture rate
// its output will have, and the title its file carries.
struct FitTask {
    double seconds = 0;
    bool hasSound = true;
    FrameRate pictureRate; // invalid: the profile's fastest
    qsizetype titleBytes = 0;
    // The least picture rate this task's pictures can be had at, where an encoder said so
    // (above the profile's lowest); 0: the profile's lowest.
    double leastPictureBits = 0;
};

// The rates of one task under a size limit. What the limit holds, less the container's own
// bytes and the sound, goes to the picture, never above the profile's own rates. Where the
// picture would drop below the rate the profile still calls worth watching, the sound steps
// down first, rate by rate; where even its lowest leaves the picture below that, the task
// is too long to fit.
class RatePlan
{
public:
    // The share of the limit a plan aims at: two-pass pictures land within about 1 % of
    // their rate and AAC within 2 %, so the file ends just under the limit.
    static constexpr double aim = 0.98;

    static RatePlan For(const FitProfile &profile, qint64 limitBytes, const FitTask &task);
    // The file at the profile's own rates, limit or none: what the Output cell's tip says.
    static qint64 Estimate(const FitProfile &profile, const FitTask &task);
    // The longest length that fits at the lowest rates, in whole milliseconds (the picture
    // rate and title as in `task`; its length is not read).
    static double LongestFit(const FitProfile &profile, qint64 limitBytes, const FitTask &task);
    // The smallest limit that holds the task at the lowest rates.
    static qint64 SmallestLimit(const FitProfile &profile, const FitTask &task);
    // "at most 1 min 52 s fits in 300 KB with this profile: trim it, split it, or pick a
    // smaller profile"
    static QString TooLongMessage(double longestSeconds, qint64 limitBytes);
    // "1 min 52 s", "45 s", "1 h 2 min": whole seconds, rounded down.
    static QString DurationText(double seconds);

    bool Fits() const { return fits; }
    double PictureBits() const { return pictureBits; }
    const SoundRate &Sound() const { return sound; }
    // Whether the limit lowered a rate below the profile's own.
    bool Lowered() const { return lowered; }
    qint64 EstimatedBytes() const { return estimatedBytes; }
    // The plan again once the sound has been measured at its rate (AAC spends less on simple
    // sound than its rate says): the picture gets what the sound left, up to its own rate.
    RatePlan WithSoundBytes(qint64 soundBytes) const;
    // The picture rate for the next try after a file came out `fileBytes` large, over the
    // limit: scaled by how far the picture overshot what was left for it, a little lower on
    // each try; 0 when even that would leave the picture nothing.
    double CorrectedPictureBits(qint64 fileBytes, int tryNumber) const;

private:
    bool fits = false;
    bool lowered = false;
    bool soundLowered = false;
    double pictureBits = 0;
    SoundRate sound;
    qint64 limitBytes = 0;
    qint64 estimatedBytes = 0;
    qint64 otherBytes = 0; // the container's and the sound's, as planned
    qint64 soundBytes = 0;
    double seconds = 0;
    double ownPictureBits = 0;
};
