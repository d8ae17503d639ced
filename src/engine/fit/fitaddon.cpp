// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/fitaddon.h"

#include "batchoptions.h"
#include "conversiontask.h"
#include "fit/fitarguments.h"
#include "fit/fitparts.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"
#include "run/passarguments.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Above this share of the limit even the profile's own rates are encoded in two runs: one
// run lands within 1 % of its rate in most cases, 6 % in a few.
constexpr double onePassShare = 0.9;

QString Kbits(double bits)
{
    return QStringLiteral("%1 kbit/s").arg(qRound(bits / 100.0) / 10.0);
}

} // namespace

QString FitAddOn::Prepare(const TaskSetup &s)
{
    given = s.task;
    source = s.source;
    input = s.input;
    profileEntries = s.profile;
    outputFolder = s.outputFolder;
    partNumber = s.partNumber;
    leadSeconds = s.leadSeconds;
    prepared = true;
    limit = s.options.maxFileBytes;
    QString unusable;
    profile = FitProfile::Read(s.profile, s.type.PassCount(), &unusable);
    task = FitParts::TaskFor(s.task, s.source, profile);
    if (s.partCount == 0) { // a whole task, which the batch may cut into parts
        const FitParts::Split split = FitParts::For(s.profile, s.type, s.source, s.task, s.options);
        if (!split.problem.isEmpty())
            return split.problem;
        parts = int(split.parts.size());
        if (parts > 0)
            return QString(); // its parts are planned each for itself
    }
    if (limit <= 0)
        return QString();
    if (!profile.IsValid())
        return QStringLiteral("the profile cannot be fitted to a size: %1").arg(unusable);
    // A raw stream does not say how long it is: the trim may be a guess. It is measured before
    // anything is encoded, and planned again then.
    measureLength = source.durationSeconds < 0;
    const QString problem = Plan();
    if (!problem.isEmpty() && !measureLength)
        return problem;
    measuredSound = plan.Sound().value;
    return ClaimStatistics(s);
}

QString FitAddOn::Plan()
{
    plan = RatePlan::For(profile, limit, task);
    if (!plan.Fits())
        return RatePlan::TooLongMessage(RatePlan::LongestFit(profile, limit, task), limit);
    pictureBits = plan.PictureBits();
    twoPass = measureLength || plan.Lowered() ||
              double(plan.EstimatedBytes()) > onePassShare * double(limit);
    return QString();
}

QString FitAddOn::ClaimStatistics(const TaskSetup &s)
{
    if (!twoPass && !measureLength)
        return QString();
    twoPass = true;
    // The encoders' statistics, and the names libx264 writes them under first.
    const QString suffix = QString::fromLatin1(statisticsSuffix);
    for (const char *file : {"-0.log", "-0.log.mbtree", "-0.log.temp", "-0.log.mbtree.temp"}) {
        int error = 0;
        if (s.claimScratch(suffix + QLatin1String(file), &error).isEmpty())
            return QStringLiteral("its statistics file %1 cannot be made: %2")
                .arg(given.outputName + suffix + QLatin1String(file),
                     QString::fromLocal8Bit(std::strerror(error)));
    }
    statistics = outputFolder + given.outputName + suffix;
    return QString();
}

QStringList FitAddOn::FirstPass() const
{
    ConversionTask read = given;
    read.sourcePath = input;
    QStringList arguments = CommandTemplate::ExpandArguments(
        profileEntries.PassTemplate(1), PassArguments::ValuesFor(outputFolder, read, source));
    EditPass(1, arguments);
    return arguments;
}

QList<QStringList> FitAddOn::Steps(Stage stage) const
{
    QList<QStringList> steps;
    if (stage != Stage::BeforePasses || limit <= 0 || parts > 0 || !profile.IsValid())
        return steps;
    if (measureLength)
        steps.append(FitArguments::MeasureRun(input));
    if (twoPass) {
        // The statistics run without -pass 2: EditPass adds it to the real first pass.
        QStringList first = FirstPass();
        const qsizetype two = first.indexOf(QStringLiteral("-pass"));
        if (two >= 0)
            first.remove(two, 4);
        const bool aac = profile.SoundCodec() == FitProfile::Sound::Aac && task.hasSound;
        steps.append(
            FitArguments::AnalysisRun(first, statistics, aac ? plan.Sound().value : QString()));
    }
    return steps;
}

QString FitAddOn::StepEnded(Stage, int index, const QByteArray &output)
{
    if (measureLength && index == 0) {
        const double seconds =
            FitArguments::MeasuredSeconds(output, {source.frameRateNum, source.frameRateDen});
        if (seconds <= 0)
            return QStringLiteral("its length cannot be told (a raw stream), and a size limit "
                                  "needs it");
        task.seconds = std::min(task.seconds, seconds - given.beginSeconds);
        if (!(task.seconds > 0))
            return QStringLiteral("nothing to convert: the stream is %1 long")
                .arg(RatePlan::DurationText(seconds));
        measureLength = false;
        if (const QString problem = Plan(); !problem.isEmpty())
            return problem;
        return QString();
    }
    MeasuredSound(output);
    // FFmpeg's own encoders cannot go coarser than their coarsest quantiser: a picture that
    // needs more even then than the plan leaves it gets that much (a little more: that run's
    // model is not exact to the bit), from a lower sound if there is one, or cannot be had.
    QFile log(statistics + QStringLiteral("-0.log"));
    const double coarsest =
        log.open(QIODevice::ReadOnly) ? FitArguments::CoarsestBits(log.readAll()) : -1;
    if (coarsest > 0.98 * pictureBits * task.seconds) {
        task.leastPictureBits = std::min(coarsest / 0.97 / task.seconds, profile.PictureBits());
        if (!Plan().isEmpty())
            return QStringLiteral("the picture cannot be made that small: at its coarsest it "
                                  "takes %1, more than a file of %2 leaves it; pick a smaller "
                                  "profile or allow larger files")
                .arg(BatchOptions::SizeText(qint64(coarsest / 8)), BatchOptions::SizeText(limit));
        MeasuredSound(output);
    }
    return QString();
}

// The statistics run measured the sound at the rate planned when the steps were made; a plan
// at another rate since (a raw stream measured, a picture that needs more) keeps the sound's
// planned bytes.
void FitAddOn::MeasuredSound(const QByteArray &output)
{
    if (const qint64 sound = FitArguments::SoundBytes(output);
        sound >= 0 && profile.SoundCodec() == FitProfile::Sound::Aac && task.hasSound &&
        plan.Sound().value == measuredSound) {
        plan = plan.WithSoundBytes(sound);
        pictureBits = plan.PictureBits();
    }
}

void FitAddOn::EditPass(int pass, QStringList &arguments) const
{
    if (!prepared || parts > 0)
        return;
    if (pass == 1 && partNumber > 1)
        FitArguments::CutLeadIn(arguments, leadSeconds);
    if (limit <= 0 || !plan.Fits())
        return;
    if (pass == 1) {
        FitArguments::SetPictureRate(arguments, pictureBits);
        if (twoPass)
            arguments = FitArguments::EncodingRun(arguments, statistics);
    }
    if (pass == profile.SoundPass())
        FitArguments::SetSoundRate(arguments, plan.Sound());
}

QString FitAddOn::Summary() const
{
    if (!prepared)
        return QString();
    const QString size = BatchOptions::SizeText(limit);
    if (parts > 0)
        return limit > 0 ? QStringLiteral("in %1 parts, each within %2").arg(parts).arg(size)
                         : QStringLiteral("in %1 parts").arg(parts);
    if (limit <= 0 || !profile.IsValid() || !plan.Fits()) {
        const qint64 estimate = RatePlan::Estimate(profile, task);
        return estimate > 0 ? QStringLiteral("about %1")
                                  .arg(BatchOptions::SizeText((estimate + 1023) / 1024 * 1024))
                            : QString();
    }
    const QString about = BatchOptions::SizeText((plan.EstimatedBytes() + 1023) / 1024 * 1024);
    if (!plan.Lowered())
        return QStringLiteral("about %1: fits in %2").arg(about, size);
    return QStringLiteral("about %1: fits in %2 with the picture at %3, the sound at %4")
        .arg(about, size, Kbits(plan.PictureBits()), plan.Sound().value);
}

QString FitAddOn::CheckOutput(const QString &path, bool *again)
{
    if (again)
        *again = false;
    if (limit <= 0 || parts > 0)
        return QString();
    const qint64 bytes = QFileInfo(path).size();
    if (bytes <= limit)
        return QString();
    const QString problem = QStringLiteral("it takes %1, more than the limit of %2")
                                .arg(BatchOptions::SizeText(bytes), BatchOptions::SizeText(limit));
    if (tries >= maxRetries)
        return problem + QStringLiteral(" after %1 tries").arg(tries + 1);
    pictureBits = plan.CorrectedPictureBits(bytes, ++tries);
    if (again)
        *again = pictureBits > 0;
    if (pictureBits > 0)
        note = QStringLiteral("%1: converted again with the picture at %2")
                   .arg(problem, Kbits(pictureBits));
    return problem;
}

QString FitAddOn::TakeNote()
{
    return std::exchange(note, QString());
}
