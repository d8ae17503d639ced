// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sound/meterreport.h"
#include "sound/soundformat.h"

#include <QString>
#include <QStringList>

#include <optional>

// The loudness targets a batch may ask for, in LUFS integrated.
namespace Loudness {
constexpr double defaultTarget = -16.0;
constexpr double lowestTarget = -30.0;
constexpr double highestTarget = -10.0;
// What the read-back check allows: the finished file within this many LU of what was planned,
constexpr double tolerance = 1.0;
// and its true peak at or under this, in dBTP.
constexpr double peakLimit = -1.0;
} // namespace Loudness

// What pass 1 does to a task's sound, and what its finished file must then read. Made by
// LoudnessPlanner from measuring runs; a value, so a task keeps it from before pass 1 to the
// read-back check.
struct LoudnessPlan {
    SoundFormat format;
    double target = Loudness::defaultTarget;
    // The sound is left as it is (bad input, or nothing to measure): no filter, no check.
    bool leftAsItIs = true;
    double gain = 0.0; // dB, applied once to the whole sound
    // The loudest passages are compressed first (a wide loudness range): the compressor's
    // threshold in dBFS of the source's level, NaN when not.
    double compressorThreshold = LoudnessReading::none;
    bool limited = false;     // a true-peak limiter follows the gain
    double ceiling = 0.0;     // its ceiling, dBTP, before the encoder
    double expected = target; // LUFS the finished file should read
    QString note;             // a NOTE for the log ("the sound is silent: ..."), or empty
    // The try before this one, on another try: its gain and what its file read, LUFS.
    double triedGain = LoudnessReading::none;
    double triedLoudness = LoudnessReading::none;

    // The "-af" filter text for pass 1, which must write the profile's own rate and channels;
    // empty when the sound is left as it is. The text converts to that rate and those channels
    // first, so the sound is set as it is measured.
    QString Filter() const;
    // Its two halves: the conversion to the profile's rate and channels (and the compressor),
    // then the gain (and the limiter). A level only measured for its loudness may take a
    // cheaper limiter that changes the loudness alike.
    QString Shaping() const;
    QString Level(bool onlyLoudness = false) const;
    // The arguments pass 1 takes on (before its output file), empty when none.
    QStringList PassArguments() const;

    // The faults of a finished file's reading, in words for the log ("sound is -18.3 LUFS
    // instead of -16.0"), joined by "; "; empty when it is as planned or the plan checks nothing.
    QString Verify(const LoudnessReading &finished) const;

    // The plan for another try when a finished file missed: the gain moved by what the
    // loudness missed (on a third try, along the line through the two tries' readings, where
    // the encoder's loss changed with the level), the limiter's ceiling by the room the file's
    // peaks left under the limit (less half a dB): down where they went over, up where the encoder
    // lowered them. nullopt when the plan checks nothing or another try would not help (the reading
    // has no figures, or asks for more than 6 dB of change).
    std::optional<LoudnessPlan> Retry(const LoudnessReading &finished) const;
};
