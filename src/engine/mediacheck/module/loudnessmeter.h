// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mediacheck/outputcheck.h"

#include <QtGlobal>

#include <array>
#include <vector>

// Integrated loudness and true peak of decoded sound as ITU-R BS.1770-4 defines them: the
// channels K-weighted, mean squares over 400 ms blocks every 100 ms, gated at -70 LUFS and at
// 10 LU under the mean of the blocks above that; the true peak read from the sound
// interpolated to 4 times its rate. Reads the same as ffmpeg's ebur128 filter (the
// read-back check and the measuring runs agree) without a process of its own: the read-back
// check decodes the finished file and feeds its sound here.
class LoudnessMeter
{
public:
    // Channels in FFmpeg's order; with 6 (5.1) the fourth is the LFE, which does not count,
    // and the fifth and sixth the surrounds, which count 1.41 times.
    LoudnessMeter(int sampleRate, int channels);

    // Interleaved samples, full scale at 1.0; frames holds one sample of every channel.
    void Add(const float *interleaved, qsizetype frames);

    // Integrated loudness (-70 when no block passed the absolute gate, as ebur128 says it) and
    // true peak (minus infinity for digital silence); the range is not measured.
    SoundLevels Reading() const;
    int SampleRate() const { return sampleRate; }
    int Channels() const { return int(channels.size()); }

private:
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double Run(double x);
    };
    // Taps either side of an interpolated point.
    static constexpr int halfTaps = 8;
    static constexpr int taps = 2 * halfTaps;
    static constexpr int oversampling = 4;
    struct Channel {
        Biquad shelf, highPass;
        // The last samples twice over, so that the latest `taps` of them, oldest first, lie
        // side by side at `at`.
        std::array<double, 2 * taps> recent{};
        int sinceLoud = taps; // samples since one that could lift the peak
        double weight = 1.0;
    };

    double PeakBetween(const double *x) const;

    int sampleRate;
    qsizetype hop;            // samples in 100 ms
    qsizetype inHop = 0;      // samples of the running hop so far
    double hopEnergy = 0.0;   // its weighted sum of squares
    std::vector<double> hops; // the finished hops' weighted sums of squares
    std::vector<Channel> channels;
    // Interpolation taps for the points 1/4, 2/4 and 3/4 of the way between two samples.
    std::array<std::array<double, taps>, oversampling - 1> phases{};
    double peak = 0.0;
    // How far the interpolation can rise over the largest of its samples.
    double overshoot = 1.0;
    size_t at = 0; // where the latest window begins in each channel's `recent`
};
