// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/loudnessaddon.h"

#include "conversiontask.h"
#include "mediacheck/outputcheck.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"
#include "run/passarguments.h"

#include <cmath>

namespace {

QString Lufs(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

QString LoudnessAddOn::Prepare(const TaskSetup &setup)
{
    plan.target = plan.expected = target;
    if (setup.source.audioIndex < 0)
        return QString(); // no sound to set (and the task says so itself when it has some)
    ConversionTask read = setup.task;
    read.sourcePath = setup.input;
    const CommandTemplate::Values values =
        PassArguments::ValuesFor(setup.outputFolder, read, setup.source);
    QList<QStringList> passes;
    for (int pass = 1; pass <= setup.type.PassCount(); ++pass)
        passes.append(CommandTemplate::ExpandArguments(setup.profile.PassTemplate(pass), values));
    const std::optional<SoundFormat> format = SoundFormat::FromPasses(passes);
    if (!format) {
        notes.append(QStringLiteral("the profile's first pass does not say the rate and "
                                    "channels of its sound, so it cannot be evened out; it is "
                                    "left as it is."));
        return QString();
    }
    planner.emplace(
        target, *format,
        LoudnessPlanner::Part{setup.input, values.audioMap, values.exactStart, values.exactLength});
    plan = planner->Plan();
    return QString();
}

QList<QStringList> LoudnessAddOn::Steps(Stage stage) const
{
    if (stage == Stage::BeforePasses && planner && !planner->Done())
        return {planner->NextRun()};
    return {};
}

QString LoudnessAddOn::StepEnded(Stage, int, const QByteArray &printed)
{
    if (!planner || planner->Done())
        return QString();
    planner->TakeRun(printed, true); // a step that failed has failed the task already
    if (planner->Done()) {
        plan = planner->Plan();
        if (!plan.note.isEmpty())
            notes.append(plan.note);
    }
    return QString();
}

QList<QStringList> LoudnessAddOn::StepsAfter(Stage stage, int) const
{
    return Steps(stage); // the next measuring run, once the last one's reading is taken
}

QString LoudnessAddOn::TakeNote()
{
    const QString note = notes.join(QStringLiteral("\n       "));
    notes.clear();
    return note;
}

void LoudnessAddOn::EditPass(int pass, QStringList &arguments) const
{
    if (pass != 1 || !planner)
        return;
    QStringList added = plan.PassArguments();
    if (!planner->Done()) // printed before anything is measured: where the gain goes
        added = {QStringLiteral("-af"),
                 plan.Shaping() + QStringLiteral(",volume=(the gain the measuring runs find)")};
    if (added.isEmpty())
        return;
    // Before the sound's codec, an output option of pass 1's one output.
    qsizetype at = arguments.indexOf(QStringLiteral("-c:a"));
    if (at < 1)
        at = arguments.size() - 1;
    for (qsizetype i = 0; i < added.size(); ++i)
        arguments.insert(at + i, added.at(i));
}

void LoudnessAddOn::AskOfCheck(OutputExpectation &expected) const
{
    // The finished file's sound, decoded by the check, measured as the measuring runs measure.
    if (planner && !(planner->Done() && plan.leftAsItIs))
        expected.meterSound = true;
}

void LoudnessAddOn::TakeCheckReadings(const SoundLevels &levels)
{
    finished = LoudnessReading{.integrated = levels.integrated, .truePeak = levels.truePeak};
}

QString LoudnessAddOn::Summary() const
{
    if (!planner)
        return QStringLiteral("no sound to even out");
    return QStringLiteral("sound evened out to %1 LUFS").arg(Lufs(target));
}

QString LoudnessAddOn::CheckOutput(const QString &, bool *again)
{
    if (again)
        *again = false;
    if (plan.leftAsItIs)
        return QString();
    const LoudnessReading reading = finished.value_or(LoudnessReading());
    finished.reset();
    const QString problem = plan.Verify(reading);
    if (problem.isEmpty())
        return QString();
    const std::optional<LoudnessPlan> next =
        retries < maxRetries ? plan.Retry(reading) : std::nullopt;
    if (!next)
        return problem;
    ++retries;
    notes.append(QStringLiteral("the finished file's %1; it is converted once more with the "
                                "gain at %2 dB%3.")
                     .arg(problem, QString::number(next->gain, 'f', 1),
                          next->limited ? QStringLiteral(" and the peaks held at %1 dBTP")
                                              .arg(QString::number(next->ceiling, 'f', 1))
                                        : QString()));
    plan = *next;
    if (again)
        *again = true;
    return problem;
}
