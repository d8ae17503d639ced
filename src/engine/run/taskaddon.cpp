// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/taskaddon.h"

#include "batchoptions.h"
#include "fit/fitaddon.h"
#include "sound/loudnessaddon.h"
#include "subtitles/subtitleaddon.h"

QList<QStringList> TaskAddOn::Steps(Stage) const
{
    return {};
}

QString TaskAddOn::StepEnded(Stage, int, const QByteArray &)
{
    return QString();
}

QList<QStringList> TaskAddOn::StepsAfter(Stage, int) const
{
    return {};
}

QString TaskAddOn::TakeNote()
{
    return QString();
}

void TaskAddOn::EditPass(int, QStringList &) const {}

QString TaskAddOn::Summary() const
{
    return QString();
}

void TaskAddOn::AskOfCheck(OutputExpectation &) const {}

void TaskAddOn::TakeCheckReadings(const SoundLevels &) {}

QString TaskAddOn::CheckOutput(const QString &, bool *again)
{
    if (again)
        *again = false;
    return QString();
}

std::vector<std::unique_ptr<TaskAddOn>> AddOnsFor(const BatchOptions &options)
{
    std::vector<std::unique_ptr<TaskAddOn>> addOns;
    // Each option's add-on is made here, in the order they act: the size limit sets the
    // rates, the loudness the sound, the subtitles the picture. The size's add-on also cuts a
    // task into parts, and without a limit says the size a task is likely to take.
    if (options.maxFileBytes >= 0) { // a limit, parts, or neither: the likely size
        addOns.push_back(std::make_unique<FitAddOn>());
    }
    if (options.loudnessTarget) {
        addOns.push_back(std::make_unique<LoudnessAddOn>(*options.loudnessTarget));
    }
    if (options.burnSubtitles) { // subtitles: drawn last in pass 1's picture filters
        addOns.push_back(std::make_unique<SubtitleAddOn>());
    }
    return addOns;
}
