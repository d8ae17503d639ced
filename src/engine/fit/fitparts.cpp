// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/fitparts.h"

#include "batchoptions.h"
#include "conversiontask.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The end of what a task converts: its trim, or where the source's picture ends before it.
double PictureEnd(const ConversionTask &task, const SourceInfo &source)
{
    return source.pictureEndSeconds > task.beginSeconds
               ? std::min(task.endSeconds, source.pictureEndSeconds)
               : task.endSeconds;
}

} // namespace

FitTask FitParts::TaskFor(const ConversionTask &task, const SourceInfo &source,
                          const FitProfile &profile)
{
    FitTask fit;
    fit.seconds = PictureEnd(task, source) - task.beginSeconds;
    fit.hasSound = source.audioIndex >= 0;
    fit.pictureRate = OutputRate(source, profile);
    fit.titleBytes = task.title.toUtf8().size();
    return fit;
}

FrameRate FitParts::OutputRate(const SourceInfo &source, const FitProfile &profile)
{
    return profile.PictureRate().For({source.frameRateNum, source.frameRateDen});
}

FitParts::Split FitParts::For(const Profile &profile, const OutputType &type,
                              const SourceInfo &source, const ConversionTask &task,
                              const BatchOptions &options)
{
    Split split;
    if (!options.splitIntoParts && !(options.partSeconds > 0))
        return split;
    QString unusable;
    const FitProfile fit = FitProfile::Read(profile, type.PassCount(), &unusable);
    const FrameRate rate = OutputRate(source, fit);
    if (!rate.IsValid()) {
        split.problem = QStringLiteral("it cannot be cut into parts: the profile's first pass "
                                       "sets its picture rate in a way this program cannot "
                                       "follow");
        return split;
    }
    const qint64 asked = options.partSeconds > 0
                             ? qint64(std::floor(options.partSeconds * rate.Value() + 1e-9))
                             : std::numeric_limits<qint64>::max();
    qint64 maxFrames = std::max<qint64>(1, asked);
    if (options.maxFileBytes > 0) {
        if (!fit.IsValid()) {
            split.problem =
                QStringLiteral("the profile cannot be fitted to a size: %1").arg(unusable);
            return split;
        }
        const FitTask whole = TaskFor(task, source, fit);
        if (!(options.partSeconds > 0) && RatePlan::For(fit, options.maxFileBytes, whole).Fits())
            return split;
        const double longest = RatePlan::LongestFit(fit, options.maxFileBytes, whole);
        // Whole pictures that last no longer than what fits.
        maxFrames = std::min(maxFrames, qint64(std::floor(longest * rate.Value() + 1e-9)));
        if (longest < 1.0 || maxFrames < 1) {
            split.problem = RatePlan::TooLongMessage(longest, options.maxFileBytes);
            return split;
        }
    }
    // Parts of the length asked for, the rest last; parts as long as the limit allows, as few
    // as that makes and all of one length.
    const PartPlan::Lengths lengths =
        maxFrames == asked ? PartPlan::Lengths::Fixed : PartPlan::Lengths::Even;
    split.parts =
        PartPlan::Cut(task.beginSeconds, PictureEnd(task, source), rate, maxFrames, lengths);
    if (lengths == PartPlan::Lengths::Fixed && options.maxFileBytes <= 0) {
        // Parts cut on whole pictures, and whole milliseconds where the rate allows, may leave
        // a tail of a second or two after the lengths asked for (a film of whole minutes, too):
        // the parts then share it, longer by a second or a twentieth of their length at most,
        // rather than make a part of it.
        const qint64 extra = std::min(qint64(std::ceil(rate.Value())), maxFrames / 20);
        const QList<Part> fewer = PartPlan::Cut(task.beginSeconds, PictureEnd(task, source), rate,
                                                maxFrames + extra, PartPlan::Lengths::Even);
        if (fewer.size() < split.parts.size())
            split.parts = fewer;
    }
    if (split.parts.size() < 2)
        split.parts.clear();
    return split;
}
