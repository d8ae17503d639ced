// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/loudnessplan.h"

#include <algorithm>
#include <cmath>

namespace {

// ffmpeg's compressor and limiter take levels as amplitude ratios within these bounds.
constexpr double lowestThreshold = 0.000976563;
constexpr double lowestLimit = 0.0625;
// Beyond this a second try would only trade one fault for distortion.
constexpr double largestRetryChange = 6.0;
constexpr double retryMargin = 0.5;
constexpr double highestCeiling = -1.5;
// Two tries' readings give the slope of the loudness against the gain where it is steady
// (pure tones into AMR-NB read from 1 to 2.5 LU a dB, measured) and the gains are apart.
constexpr double flattestSlope = 0.25;
constexpr double steepestSlope = 4.0;
constexpr double closestTries = 0.1;

QString Decimal(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

double Ratio(double db)
{
    return std::pow(10.0, db / 20.0);
}

// The limiter works on a copy at 4 times the rate (2 times for 16 kHz and up) so that it
// catches the peaks between samples, which the true peak counts, then returns to the rate. Where
// only its effect on the loudness is wanted, 16 kHz and up need no copy: the loudness comes out
// the same to 0.1 LU (measured at 44.1 kHz on speech, music and the sample videos), at a
// fraction of the work; at 8 kHz the copy takes 0.2 LU more, so it stays.
QString Limiter(int rate, double ceiling, bool onlyLoudness)
{
    const QString limiter = QStringLiteral("alimiter=limit=%1:level=false:latency=true")
                                .arg(Decimal(std::clamp(Ratio(ceiling), lowestLimit, 1.0), 5));
    if (onlyLoudness && rate >= 16000)
        return limiter;
    const int oversampled = rate * (rate < 16000 ? 4 : 2);
    return QStringLiteral("aresample=%1,%2,aresample=%3").arg(oversampled).arg(limiter).arg(rate);
}

} // namespace

QString LoudnessPlan::Shaping() const
{
    QString text = QStringLiteral("aformat=sample_rates=%1:channel_layouts=%2")
                       .arg(format.sampleRate)
                       .arg(format.ChannelLayout());
    if (!std::isnan(compressorThreshold)) {
        // 3:1 from the threshold up, attack and release slow enough to follow passages, not
        // syllables: the range narrows without the sound pumping.
        text +=
            QStringLiteral(",acompressor=threshold=%1:ratio=3:attack=20:release=250:detection=rms")
                .arg(Decimal(std::clamp(Ratio(compressorThreshold), lowestThreshold, 1.0), 6));
    }
    return text;
}

QString LoudnessPlan::Level(bool onlyLoudness) const
{
    QString text = QStringLiteral("volume=%1dB").arg(Decimal(gain, 2));
    if (limited)
        text += u',' + Limiter(format.sampleRate, ceiling, onlyLoudness);
    return text;
}

QString LoudnessPlan::Filter() const
{
    return leftAsItIs ? QString() : Shaping() + u',' + Level();
}

QStringList LoudnessPlan::PassArguments() const
{
    const QString filter = Filter();
    return filter.isEmpty() ? QStringList() : QStringList{QStringLiteral("-af"), filter};
}

QString LoudnessPlan::Verify(const LoudnessReading &finished) const
{
    if (leftAsItIs)
        return QString();
    QStringList faults;
    if (std::isnan(finished.integrated) || finished.integrated <= -70.0) {
        faults.append(QStringLiteral("sound cannot be measured for its loudness"));
    } else if (std::abs(finished.integrated - expected) > Loudness::tolerance) {
        faults.append(QStringLiteral("sound is %1 LUFS instead of %2 LUFS")
                          .arg(Decimal(finished.integrated, 1), Decimal(expected, 1)));
    }
    if (finished.truePeak > Loudness::peakLimit) {
        faults.append(QStringLiteral("sound peaks at %1 dBTP, above %2 dBTP")
                          .arg(Decimal(finished.truePeak, 1), Decimal(Loudness::peakLimit, 1)));
    }
    return faults.join(QStringLiteral("; "));
}

std::optional<LoudnessPlan> LoudnessPlan::Retry(const LoudnessReading &finished) const
{
    if (leftAsItIs || !std::isfinite(finished.integrated) || finished.integrated <= -70.0 ||
        std::isnan(finished.truePeak))
        return std::nullopt;
    const double loudnessMiss = expected - finished.integrated;
    // What the encoder left between the file's peaks and the limit, half a dB kept: the
    // ceiling before it moves by that much, down where the peaks went over, up where an
    // encoder lowered them (never over the -1.5 dBTP that keeps any encoder from clipping).
    const double peakRoom = Loudness::peakLimit - retryMargin - finished.truePeak;
    if (std::abs(loudnessMiss) > largestRetryChange || -peakRoom > largestRetryChange)
        return std::nullopt;
    double step = loudnessMiss;
    if (std::isfinite(triedGain) && std::isfinite(triedLoudness) &&
        std::abs(gain - triedGain) >= closestTries) {
        const double slope = (finished.integrated - triedLoudness) / (gain - triedGain);
        if (slope >= flattestSlope && slope <= steepestSlope)
            step = std::clamp(loudnessMiss / slope, -largestRetryChange, largestRetryChange);
    }
    LoudnessPlan next = *this;
    next.gain += step;
    next.triedGain = gain;
    next.triedLoudness = finished.integrated;
    if (limited) {
        next.ceiling = std::min(highestCeiling, ceiling + peakRoom);
    } else if (peakRoom - step < 0.0) { // peaks move with the gain: now they need it
        next.limited = true;
        next.ceiling =
            std::min(highestCeiling, format.PeakCeiling() + std::min(0.0, peakRoom - step));
    }
    return next;
}
