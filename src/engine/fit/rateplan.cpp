// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/rateplan.h"

#include "batchoptions.h"

#include <algorithm>
#include <cmath>

namespace {

// The sound's bytes: whole frames (AMR's 20 ms, AAC's at its rate) for the whole length.
double SoundBytes(const SoundRate &rate, const FitTask &task)
{
    return task.hasSound ? rate.bytesPerSecond * task.seconds : 0.0;
}

qint64 OwnBytes(const FitProfile &profile, const FitTask &task)
{
    return ContainerBytes::For(task.seconds, profile.Streams(task.pictureRate, task.hasSound),
                               task.titleBytes);
}

} // namespace

RatePlan RatePlan::For(const FitProfile &profile, qint64 limitBytes, const FitTask &task)
{
    RatePlan plan;
    plan.limitBytes = limitBytes;
    if (!profile.IsValid() || !(task.seconds > 0) || limitBytes <= 0)
        return plan;
    const double room = double(limitBytes) * aim - double(OwnBytes(profile, task));
    const QList<SoundRate> &sounds = profile.Sounds();
    const double lowest = std::max(profile.LowestPictureBits(), task.leastPictureBits);
    for (qsizetype i = 0; i < sounds.size(); ++i) {
        const double soundBytes = SoundBytes(sounds.at(i), task);
        const double picture = (room - soundBytes) * 8.0 / task.seconds;
        // Without sound there is nothing to lower but the picture.
        if (picture < lowest && task.hasSound && i + 1 < sounds.size())
            continue;
        if (picture < lowest)
            break;
        plan.fits = true;
        plan.sound = sounds.at(i);
        plan.pictureBits = std::min(picture, profile.PictureBits());
        plan.soundLowered = i > 0;
        plan.lowered = plan.soundLowered || picture < profile.PictureBits();
        plan.soundBytes = qint64(std::ceil(soundBytes));
        plan.otherBytes = OwnBytes(profile, task) + plan.soundBytes;
        plan.seconds = task.seconds;
        plan.ownPictureBits = profile.PictureBits();
        plan.estimatedBytes = plan.otherBytes + qint64(plan.pictureBits * task.seconds / 8.0);
        return plan;
    }
    plan.sound = sounds.last();
    return plan;
}

qint64 RatePlan::Estimate(const FitProfile &profile, const FitTask &task)
{
    if (!profile.IsValid() || !(task.seconds > 0))
        return 0;
    return OwnBytes(profile, task) + qint64(SoundBytes(profile.Sounds().first(), task)) +
           qint64(profile.PictureBits() * task.seconds / 8.0);
}

double RatePlan::LongestFit(const FitProfile &profile, qint64 limitBytes, const FitTask &task)
{
    if (!profile.IsValid() || limitBytes <= 0)
        return 0;
    // Longer never takes fewer bytes at the lowest rates, so the longest length that fits is
    // found by halving, to the millisecond, between nothing and what the limit holds at the
    // lowest rates alone.
    const double lowest = profile.LowestPictureBits() / 8.0 +
                          (task.hasSound ? profile.Sounds().last().bytesPerSecond : 0.0);
    qint64 fits = 0, fails = qint64(std::ceil(double(limitBytes) / lowest * 1000.0)) + 1;
    FitTask probe = task;
    while (fails - fits > 1) {
        const qint64 middle = fits + (fails - fits) / 2;
        probe.seconds = double(middle) / 1000.0;
        (For(profile, limitBytes, probe).Fits() ? fits : fails) = middle;
    }
    return double(fits) / 1000.0;
}

qint64 RatePlan::SmallestLimit(const FitProfile &profile, const FitTask &task)
{
    if (!profile.IsValid() || !(task.seconds > 0))
        return 0;
    const double lowest = double(OwnBytes(profile, task)) +
                          SoundBytes(profile.Sounds().last(), task) +
                          profile.LowestPictureBits() * task.seconds / 8.0;
    qint64 limit = qint64(std::ceil(lowest / aim));
    while (!For(profile, limit, task).Fits()) // rounding of the bytes above
        ++limit;
    return limit;
}

QString RatePlan::DurationText(double seconds)
{
    const qint64 s = qint64(std::floor(std::max(0.0, seconds) + 1e-9));
    QStringList parts;
    if (s >= 3600)
        parts << QStringLiteral("%1 h").arg(s / 3600);
    if (s % 3600 >= 60)
        parts << QStringLiteral("%1 min").arg(s % 3600 / 60);
    if (s % 60 != 0 || s == 0)
        parts << QStringLiteral("%1 s").arg(s % 60);
    return parts.join(u' ');
}

QString RatePlan::TooLongMessage(double longestSeconds, qint64 limitBytes)
{
    if (longestSeconds < 1.0)
        return QStringLiteral("not even a second fits in %1 with this profile: pick a smaller "
                              "profile or allow larger files")
            .arg(BatchOptions::SizeText(limitBytes));
    return QStringLiteral("at most %1 fits in %2 with this profile: trim it, split it, or pick "
                          "a smaller profile")
        .arg(DurationText(longestSeconds), BatchOptions::SizeText(limitBytes));
}

RatePlan RatePlan::WithSoundBytes(qint64 measured) const
{
    if (!fits || measured < 0)
        return *this;
    RatePlan plan = *this;
    plan.otherBytes += measured - soundBytes;
    plan.soundBytes = measured;
    const double room = double(limitBytes) * aim - double(plan.otherBytes);
    // More sound than planned takes it from the picture, below its lowest if need be: the
    // limit holds, and the check after the last pass has the last word.
    plan.pictureBits = std::clamp(room * 8.0 / seconds, 0.0, ownPictureBits);
    plan.lowered = soundLowered || plan.pictureBits < ownPictureBits;
    plan.estimatedBytes = plan.otherBytes + qint64(plan.pictureBits * seconds / 8.0);
    return plan;
}

double RatePlan::CorrectedPictureBits(qint64 fileBytes, int tryNumber) const
{
    const double left = double(limitBytes) * (aim - 0.01 * tryNumber) - double(otherBytes);
    const double spent = double(fileBytes) - double(otherBytes);
    if (left <= 0 || spent <= 0)
        return 0;
    return pictureBits * std::min(1.0, left / spent);
}
