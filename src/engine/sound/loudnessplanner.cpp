// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/loudnessplanner.h"

#include "sound/meterreport.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// The meters' names: the first run's, its true peak's, the compressed sound's.
const QString source = QStringLiteral("source");
const QString sourcePeak = QStringLiteral("peak");
const QString shaped = QStringLiteral("shaped");

// Readings beyond these are not a meter's.
constexpr double loudest = 10.0;      // LUFS
constexpr double highestPeak = 40.0;  // dBTP
constexpr double widestRange = 100.0; // LU
// A gain above this raises a quiet source's noise floor with it.
constexpr double largestGain = 24.0;
// Integrated loudness under this is a noise floor, not something to bring up.
constexpr double nearSilence = -50.0;
// The ebur128 filter gives no integrated loudness for less than one 400 ms block.
constexpr double shortestSeconds = 0.4;
// A DC offset within this many dB under the loudness is what the sound mostly is.
constexpr double dcMargin = 10.0;
// Narrowing: ranges wider than this, over sound at least this long (the range needs several
// 3 s short-term readings to mean anything), compressed 3:1 from this many LU under the range's
// loud end: ranges of 21 and 24 LU (noise and speech under loud bursts) came to 12 and 14.5.
constexpr double wideRange = 15.0;
constexpr double narrowShortest = 10.0;
constexpr double compressFrom = 9.0;
// Peaks this little over the ceiling cost under 0.1 LU in the limiter: no second run.
constexpr double smallOvershoot = 1.0;
// The second run's gains, above the gain the loudness alone asks for. The limiter takes
// 0.3 to 3 LU at 4 dB of overshoot and 1 to 7 at 12 (measured).
const QList<double> branchSteps{0.0, 3.0, 6.0};
// Beyond the last step the curve is followed this far, no further, and only while each dB of
// gain still brings at least this much loudness (speech-like sound into AMR at -16 LUFS still
// gains 0.27 LU a dB there; bursts the limiter flattens gain under 0.1, and may even lose).
constexpr double furthestStep = 3.0;
constexpr double steadySlope = 0.25;

QString Decimal(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString Branch(qsizetype k)
{
    return QStringLiteral("branch%1").arg(k);
}

} // namespace

LoudnessPlanner::LoudnessPlanner(double target, const SoundFormat &format, const Part &part)
    : part(part)
{
    plan.format = format;
    plan.target = target;
    plan.expected = target;
    static const QRegularExpression map(QStringLiteral("^\\d+:a:\\d+\\??$"));
    if (!map.match(part.audioMap).hasMatch() || format.sampleRate <= 0 || format.channels <= 0)
        Leave(QString()); // no sound picked: nothing to measure and nothing to say
}

QStringList LoudnessPlanner::Input() const
{
    // -vn -sn -dn before the input: the demuxer drops what is not sound.
    return {"ffmpeg", "-hide_banner", "-nostdin", "-vn",
            "-sn",    "-dn",          "-ss",      part.start,
            "-t",     part.length,    "-i",       QStringLiteral("file:") + part.source};
}

QStringList LoudnessPlanner::NextRun() const
{
    if (stage == Stage::Measure) {
        // The true peak is read at four times the rate, as BS.1770 reads it at 48 kHz: ebur128's
        // own interpolates to 192 kHz whatever the rate, 24 times an AMR part's.
        const QString filter =
            plan.Shaping() +
            QStringLiteral(",astats@%1=measure_perchannel=none:measure_overall=DC_offset+"
                           "Number_of_samples,ebur128@%1=framelog=verbose,aresample=%2,"
                           "astats@%3=measure_perchannel=none:measure_overall=Peak_level")
                .arg(source)
                .arg(std::min(4 * plan.format.sampleRate, 192000))
                .arg(sourcePeak);
        return Input() + QStringList{"-map", part.audioMap, "-af", filter, "-f", "null", "-"};
    }
    if (stage == Stage::Shape) {
        const QString filter =
            plan.Shaping() + QStringLiteral(",ebur128@%1=peak=true:framelog=verbose").arg(shaped);
        return Input() + QStringList{"-map", part.audioMap, "-af", filter, "-f", "null", "-"};
    }
    if (stage != Stage::Branches)
        return {};
    // The shaping before the gain is shared; each branch then has its own gain, the limiter
    // and a meter, so one decoding measures every gain.
    QString graph = QStringLiteral("[%1]%2,asplit=%3")
                        .arg(QString(part.audioMap).remove(u'?'), plan.Shaping())
                        .arg(branchGains.size());
    QStringList outputs;
    for (qsizetype k = 0; k < branchGains.size(); ++k)
        graph += QStringLiteral("[s%1]").arg(k);
    for (qsizetype k = 0; k < branchGains.size(); ++k) {
        LoudnessPlan branch = plan;
        branch.gain = branchGains[k];
        graph += QStringLiteral(";[s%1]%2,ebur128@%3=framelog=verbose[m%1]")
                     .arg(k)
                     .arg(branch.Level(true), Branch(k));
        outputs += {"-map", QStringLiteral("[m%1]").arg(k), "-f", "null", "-"};
    }
    return Input() + QStringList{"-filter_complex", graph} + outputs;
}

void LoudnessPlanner::TakeRun(const QByteArray &output, bool ok)
{
    if (stage == Stage::Measure)
        Decide(output, ok);
    else if (stage == Stage::Shape)
        Shaped(output, ok);
    else if (stage == Stage::Branches)
        Choose(output, ok);
}

void LoudnessPlanner::Leave(const QString &why)
{
    plan.leftAsItIs = true;
    plan.note = why;
    stage = Stage::Done;
}

void LoudnessPlanner::Decide(const QByteArray &output, bool ok)
{
    const MeterReport report = MeterReport::Read(output);
    std::optional<LoudnessReading> read = report.Loudness(source);
    if (read)
        read->truePeak = report.Stat(sourcePeak, QStringLiteral("Peak level dB"))
                             .value_or(LoudnessReading::none);
    const std::optional<double> samples = report.Stat(source, QStringLiteral("Number of samples"));
    // What a meter can print: loudness no louder than full-scale square waves give, peaks
    // within what a decoder's float output can hold; anything else is no reading.
    const bool plausible = read && std::isfinite(read->integrated) && read->integrated <= loudest &&
                           !(read->truePeak > highestPeak) && !(read->range > widestRange) &&
                           !(read->range < 0.0);
    if (!ok || !plausible || !samples || std::isnan(*samples)) {
        Leave(QStringLiteral("no sound could be read from the part to convert; it is left as "
                             "it is."));
        return;
    }
    const double seconds = *samples / plan.format.sampleRate;
    const double dc = std::abs(report.Stat(source, QStringLiteral("DC offset")).value_or(0.0));
    if (*samples <= 0) {
        Leave(QStringLiteral("the part to convert has no sound; it is left as it is."));
    } else if (seconds < shortestSeconds) {
        Leave(QStringLiteral("the sound lasts %1 s, less than the 0.4 s a loudness reading "
                             "needs; it is left as it is.")
                  .arg(Decimal(seconds, 2)));
    } else if (std::isnan(read->truePeak) || read->truePeak == -INFINITY) {
        Leave(QStringLiteral("the sound is silent; it is left as it is."));
    } else if (std::isnan(read->integrated) || read->integrated < nearSilence) {
        const QString level = read->integrated > -70.0
                                  ? QStringLiteral("%1 LUFS").arg(Decimal(read->integrated))
                                  : QStringLiteral("under -70 LUFS");
        Leave(QStringLiteral("the sound is near silence (%1); it is left as it is rather "
                             "than raised into noise.")
                  .arg(level));
    } else if (dc > 0 && 20.0 * std::log10(dc) > read->integrated - dcMargin) {
        Leave(QStringLiteral("the sound is mostly a DC offset (%1 dBFS against %2 LUFS of "
                             "sound), which a gain would only raise; it is left as it is.")
                  .arg(Decimal(20.0 * std::log10(dc)), Decimal(read->integrated)));
    }
    if (stage == Stage::Done)
        return;
    plan.leftAsItIs = false;
    plan.ceiling = plan.format.PeakCeiling();
    sourceLoudness = read->integrated;
    if (read->range > wideRange && seconds >= narrowShortest && std::isfinite(read->rangeHigh) &&
        read->rangeHigh <= loudest) {
        // From this far under the loud end of the range up; the compressor reads each
        // channel, which holds its share of the loudness.
        plan.compressorThreshold =
            read->rangeHigh - compressFrom - 10.0 * std::log10(double(plan.format.channels));
        stage = Stage::Shape;
        return;
    }
    Level(*read);
}

void LoudnessPlanner::Shaped(const QByteArray &output, bool ok)
{
    const std::optional<LoudnessReading> read = MeterReport::Read(output).Loudness(shaped);
    if (ok && read && std::isfinite(read->integrated) && read->integrated > -70.0 &&
        read->integrated <= loudest && std::isfinite(read->truePeak) &&
        read->truePeak <= highestPeak) {
        Level(*read);
        return;
    }
    // Not measured: no compressor then, and the gain from the first reading.
    plan.compressorThreshold = LoudnessReading::none;
    LoudnessReading first;
    first.integrated = sourceLoudness;
    first.truePeak = plan.ceiling; // unknown: the limiter stays on guard
    Level(first);
    stage = Stage::Done;
}

void LoudnessPlanner::Level(const LoudnessReading &read)
{
    if (plan.target - sourceLoudness > largestGain) {
        plan.expected = sourceLoudness + largestGain;
        if (plan.target - plan.expected >= 0.5) // a shortfall worth telling
            plan.note = QStringLiteral("the sound is quiet (%1 LUFS): it is raised by %2 dB, the "
                                       "most allowed, to %3 LUFS rather than %4 LUFS.")
                            .arg(Decimal(sourceLoudness), Decimal(largestGain, 0),
                                 Decimal(plan.expected), Decimal(plan.target));
    }
    goal = plan.expected + plan.format.LoudnessAllowance();
    plan.gain = goal - read.integrated;
    const double overshoot = read.truePeak + plan.gain - plan.ceiling;
    plan.limited = overshoot > 0.0;
    if (overshoot <= smallOvershoot) {
        stage = Stage::Done;
        return;
    }
    branchGains.clear();
    for (double step : branchSteps)
        branchGains.append(plan.gain + step);
    stage = Stage::Branches;
}

void LoudnessPlanner::Choose(const QByteArray &output, bool ok)
{
    stage = Stage::Done; // whatever the run gave, the plan is made now
    const MeterReport report = MeterReport::Read(output);
    QList<double> levels;
    for (qsizetype k = 0; k < branchGains.size(); ++k) {
        const std::optional<LoudnessReading> r = report.Loudness(Branch(k));
        if (!ok || !r || !std::isfinite(r->integrated) || r->integrated <= -70.0 ||
            r->integrated > loudest)
            return; // keep the gain the loudness alone asked for; the check will tell
        levels.append(r->integrated);
    }
    const qsizetype last = levels.size() - 1;
    if (goal <= levels.front()) { // under the first gain the limiter takes less: about 1:1
        plan.gain = branchGains.front() + (goal - levels.front());
        return;
    }
    for (qsizetype k = 0; k < last; ++k) {
        if (goal <= levels[k + 1]) {
            const double rise = std::max(0.01, levels[k + 1] - levels[k]);
            plan.gain =
                branchGains[k] + (goal - levels[k]) * (branchGains[k + 1] - branchGains[k]) / rise;
            return;
        }
    }
    // Past the last gain the curve is followed only where it still rises steadily and not far;
    // where it flattens (the limiter takes nearly all of any more gain) it may as well fall, so
    // the loudest gain measured is taken, and what it reached is what the sound is set to.
    const double slope =
        (levels[last] - levels[last - 1]) / (branchGains[last] - branchGains[last - 1]);
    const double step = (goal - levels[last]) / std::max(slope, 1e-3);
    if (slope >= steadySlope && step <= furthestStep) {
        plan.gain = branchGains[last] + step;
        return;
    }
    const qsizetype best = std::max_element(levels.cbegin(), levels.cend()) - levels.cbegin();
    plan.gain = branchGains[best];
    const double reached = levels[best] - plan.format.LoudnessAllowance();
    if (plan.expected - reached >= 0.5)
        plan.note = QStringLiteral("the sound's peaks allow no more than %1 LUFS under the "
                                   "true-peak limit; it is set to that rather than %2 LUFS.")
                        .arg(Decimal(reached), Decimal(plan.expected));
    plan.expected = reached;
}
