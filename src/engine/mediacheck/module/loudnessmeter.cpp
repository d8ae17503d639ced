// SPDX-License-Identifier: GPL-3.0-or-later
#include "loudnessmeter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double absoluteGate = -70.0; // LUFS
constexpr double relativeGate = -10.0; // LU under the mean of the blocks over the absolute gate
constexpr double pi = 3.14159265358979323846;

// BS.1770's loudness of a mean square (its -0.691 makes a 1 kHz sine read its own level).
double Lufs(double meanSquare)
{
    return -0.691 + 10.0 * std::log10(meanSquare);
}

// The modified Bessel function I0, for the Kaiser window.
double BesselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

double LoudnessMeter::Biquad::Run(double x)
{
    const double y = b0 * x + z1; // transposed direct form II
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

LoudnessMeter::LoudnessMeter(int sampleRate, int channelCount)
    : sampleRate(std::max(1, sampleRate)),
      hop(std::max<qsizetype>(1, std::lround(0.1 * std::max(1, sampleRate)))),
      channels(size_t(std::max(1, channelCount)))
{
    // The K-weighting's two stages, from their analog prototypes by the bilinear transform, so
    // that every rate gets the response BS.1770 gives at 48 kHz: a +4 dB shelf over about
    // 1.7 kHz (the head's effect) and a high-pass at about 38 Hz.
    const double fs = this->sampleRate;
    Biquad shelf;
    {
        const double k = std::tan(pi * 1681.974450955533 / fs);
        const double q = 0.7071752369554196;
        const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelf.b0 = (vh + vb * k / q + k * k) / a0;
        shelf.b1 = 2.0 * (k * k - vh) / a0;
        shelf.b2 = (vh - vb * k / q + k * k) / a0;
        shelf.a1 = 2.0 * (k * k - 1.0) / a0;
        shelf.a2 = (1.0 - k / q + k * k) / a0;
    }
    Biquad highPass;
    {
        const double k = std::tan(pi * 38.13547087602444 / fs);
        const double q = 0.5003270373238773;
        const double a0 = 1.0 + k / q + k * k;
        highPass.b0 = 1.0;
        highPass.b1 = -2.0;
        highPass.b2 = 1.0;
        highPass.a1 = 2.0 * (k * k - 1.0) / a0;
        highPass.a2 = (1.0 - k / q + k * k) / a0;
    }
    for (size_t c = 0; c < channels.size(); ++c) {
        channels[c].shelf = shelf;
        channels[c].highPass = highPass;
        if (channels.size() == 6)
            channels[c].weight = c == 3 ? 0.0 : c >= 4 ? 1.41 : 1.0;
    }
    // Windowed sinc (Kaiser, beta 7) over 8 samples either side: within 0.1 dB up to 0.9 of
    // the Nyquist frequency, and each phase's taps sum to 1 so a constant stays constant.
    const double beta = 7.0;
    for (int p = 0; p < oversampling - 1; ++p) {
        const double d = double(p + 1) / oversampling;
        double sum = 0.0;
        for (int i = 0; i < taps; ++i) {
            const double u =
                (i - (halfTaps - 1)) - d; // sample i sits at m + i - 7; the point at m + d
            const double sinc = std::sin(pi * u) / (pi * u);
            const double r = u / halfTaps;
            const double window =
                BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(beta);
            phases[size_t(p)][size_t(i)] = sinc * window;
            sum += sinc * window;
        }
        double gain = 0.0;
        for (double &h : phases[size_t(p)]) {
            h /= sum;
            gain += std::abs(h);
        }
        overshoot = std::max(overshoot, gain);
    }
}

double LoudnessMeter::PeakBetween(const double *x) const
{
    double high = 0.0;
    for (const auto &h : phases) {
        double v = 0.0;
        for (int i = 0; i < taps; ++i)
            v += h[size_t(i)] * x[i];
        high = std::max(high, std::abs(v));
    }
    return high;
}

void LoudnessMeter::Add(const float *interleaved, qsizetype frames)
{
    const size_t n = channels.size();
    for (qsizetype f = 0; f < frames; ++f) {
        at = (at + 1) % taps;
        for (size_t c = 0; c < n; ++c) {
            Channel &ch = channels[c];
            const double x = interleaved[size_t(f) * n + c];
            const double y = ch.highPass.Run(ch.shelf.Run(x));
            hopEnergy += ch.weight * y * y;
            peak = std::max(peak, std::abs(x));
            ch.recent[at + taps - 1] = ch.recent[(at + taps - 1) % taps] = x;
            // Interpolated only where it could pass the peak so far: near a sample that was
            // within `overshoot` of it (the peak only grows, so a sample under it stays under).
            if (std::abs(x) * overshoot > peak)
                ch.sinceLoud = 0;
            else if (ch.sinceLoud < taps)
                ++ch.sinceLoud;
            if (ch.sinceLoud < taps)
                peak = std::max(peak, PeakBetween(ch.recent.data() + at));
        }
        if (++inHop == hop) {
            hops.push_back(hopEnergy);
            hopEnergy = 0.0;
            inHop = 0;
        }
    }
}

SoundLevels LoudnessMeter::Reading() const
{
    SoundLevels r;
    // The points after the last samples, with silence following them.
    double high = peak;
    for (const Channel &ch : channels) {
        std::array<double, 2 * taps> x{};
        std::copy_n(ch.recent.begin() + at, taps, x.begin());
        for (int k = 1; k <= halfTaps; ++k)
            high = std::max(high, PeakBetween(x.data() + k));
    }
    r.truePeak = high > 0.0 ? 20.0 * std::log10(high) : -INFINITY;

    std::vector<double> blocks; // mean squares of the 400 ms blocks, 100 ms apart
    for (size_t j = 0; j + 3 < hops.size(); ++j)
        blocks.push_back((hops[j] + hops[j + 1] + hops[j + 2] + hops[j + 3]) / double(4 * hop));
    const auto meanOver = [&](double gate) {
        double sum = 0.0;
        qsizetype count = 0;
        for (double e : blocks)
            if (e > 0.0 && Lufs(e) > gate)
                sum += e, ++count;
        return count > 0 ? sum / double(count) : 0.0;
    };
    const double overAbsolute = meanOver(absoluteGate);
    if (overAbsolute <= 0.0) {
        r.integrated = absoluteGate;
        return r;
    }
    const double gate = std::max(absoluteGate, Lufs(overAbsolute) + relativeGate);
    const double gated = meanOver(gate);
    r.integrated = gated > 0.0 ? Lufs(gated) : absoluteGate;
    return r;
}
