// SPDX-License-Identifier: GPL-3.0-or-later
// What a task would run, for printing: the same steps and passes as TaskRun starts, with
// nothing made and nothing run.
#include "run/taskrun.h"

#include "conversiontask.h"
#include "enginepaths.h"
#include "files/outputnameplanner.h"
#include "fit/fitparts.h"
#include "profiles/outputtypes.h"
#include "run/amrrepack.h"
#include "run/passarguments.h"
#include "run/passrunner.h"

#include <QDateTime>

CommandTemplate::Values PassArguments::ValuesFor(const QString &outputFolder,
                                                 const ConversionTask &task,
                                                 const SourceInfo &source)
{
    CommandTemplate::Values values =
        CommandTemplate::Values::For(task, outputFolder, QDateTime::currentDateTime());
    values.TakeSource(source);
    return values;
}

QStringList PassArguments::Resolved(QStringList arguments, const EnginePaths &paths)
{
    if (!arguments.isEmpty())
        arguments[0] = PassRunner::ResolveProgram(arguments.at(0), paths.appFolder);
    return arguments;
}

namespace {

// A task as TaskRun would start it, with nothing made: its profile, the probed source (and the
// repack steps its sound needs), and its add-ons prepared.
struct PlannedTask {
    std::optional<Profile> profile;
    SourceInfo source;
    ConversionTask read; // the task as its passes read it
    QList<QStringList> repackSteps;
    std::vector<std::unique_ptr<TaskAddOn>> addOns;
    QString problem; // an add-on's reason the task cannot be converted
};

PlannedTask Plan(const EnginePaths &paths, const OutputType *type, int profileRow,
                 const QString &outputFolder, const ConversionTask &task,
                 const BatchOptions &options, const Part *part = nullptr, int partCount = 0)
{
    PlannedTask plan;
    if (!type)
        return plan;
    plan.profile = ProfileCatalog(paths).Load(type->Index(), profileRow);
    if (!plan.profile || !plan.profile->HasPasses(type->PassCount())) {
        plan.profile.reset();
        return plan;
    }
    plan.source = SourceProbe::Probe(task.sourcePath);
    plan.read = task;
    if (plan.source.multiFrameAmr && plan.source.audioIndex >= 0) { // repacked first
        const QString sound = outputFolder + type->FileName(TaskFile::SoundCopy, task.outputName);
        const QString copy = outputFolder + type->FileName(TaskFile::SourceCopy, task.outputName);
        for (int step = 1; step <= AmrRepack::stepCount; ++step)
            plan.repackSteps.append(AmrRepack::StepArguments(step, task.sourcePath,
                                                             plan.source.audioIndex, sound, copy));
        plan.read.sourcePath = copy;
        plan.source.audioIndex = 0;
    }
    const TaskSetup setup{task,
                          plan.source,
                          plan.read.sourcePath,
                          *plan.profile,
                          *type,
                          options,
                          outputFolder,
                          [&](const QString &suffix, int *error) {
                              if (error)
                                  *error = 0;
                              return outputFolder + task.outputName + suffix;
                          },
                          [&](const QString &suffix, const QByteArray &, int *error) {
                              if (error)
                                  *error = 0;
                              return outputFolder + task.outputName + suffix;
                          },
                          part ? part->number : 0,
                          partCount,
                          part ? part->leadSeconds : 0.0};
    plan.addOns = AddOnsFor(options);
    for (const auto &addOn : plan.addOns)
        if (plan.problem.isEmpty())
            plan.problem = addOn->Prepare(setup);
    return plan;
}

// The parts a task would be cut into, each as a task of its own; none for one piece.
QList<ConversionTask> PartTasks(const PlannedTask &plan, const OutputType *type,
                                const ConversionTask &task, const BatchOptions &options,
                                QList<Part> *parts)
{
    QList<ConversionTask> tasks;
    if (!plan.profile || !plan.problem.isEmpty())
        return tasks;
    *parts = FitParts::For(*plan.profile, *type, plan.source, task, options).parts;
    for (const Part &part : std::as_const(*parts)) {
        ConversionTask each = task;
        each.outputName =
            PartPlan::Name(OutputNamePlanner::BaseName(task), part.number, int(parts->size()));
        each.beginSeconds = part.beginSeconds;
        each.endSeconds = part.endSeconds;
        tasks.append(each);
    }
    return tasks;
}

} // namespace

QList<QStringList> TaskRun::Commands(const EnginePaths &paths, const OutputType *type,
                                     int profileRow, const QString &outputFolder,
                                     const ConversionTask &task, const BatchOptions &options)
{
    const PlannedTask whole = Plan(paths, type, profileRow, outputFolder, task, options);
    QList<Part> parts;
    const QList<ConversionTask> each = PartTasks(whole, type, task, options, &parts);
    if (each.isEmpty())
        return PartCommands(paths, type, profileRow, outputFolder, task, options, nullptr, 0);
    QList<QStringList> commands; // every part's, one part after another
    for (int i = 0; i < each.size(); ++i)
        commands += PartCommands(paths, type, profileRow, outputFolder, each.at(i), options,
                                 &parts.at(i), int(parts.size()));
    return commands;
}

QList<QStringList> TaskRun::PartCommands(const EnginePaths &paths, const OutputType *type,
                                         int profileRow, const QString &outputFolder,
                                         const ConversionTask &task, const BatchOptions &options,
                                         const Part *part, int partCount)
{
    using PassArguments::Resolved;
    const PlannedTask plan =
        Plan(paths, type, profileRow, outputFolder, task, options, part, partCount);
    if (!plan.profile || !plan.problem.isEmpty())
        return {}; // the task would fail before anything runs
    QList<QStringList> commands;
    for (const QStringList &step : plan.repackSteps)
        commands.append(Resolved(step, paths));
    for (const auto &addOn : plan.addOns)
        for (const QStringList &step : addOn->Steps(TaskAddOn::Stage::BeforePasses))
            commands.append(Resolved(step, paths));
    const CommandTemplate::Values values =
        PassArguments::ValuesFor(outputFolder, plan.read, plan.source);
    for (int pass = 1; pass <= type->PassCount(); ++pass) {
        QStringList arguments =
            CommandTemplate::ExpandArguments(plan.profile->PassTemplate(pass), values);
        for (const auto &addOn : plan.addOns)
            addOn->EditPass(pass, arguments);
        commands.append(Resolved(arguments, paths));
    }
    for (const auto &addOn : plan.addOns)
        for (const QStringList &step : addOn->Steps(TaskAddOn::Stage::AfterPasses))
            commands.append(Resolved(step, paths));
    return commands;
}

QStringList TaskRun::Summaries(const EnginePaths &paths, const OutputType *type, int profileRow,
                               const QString &outputFolder, const ConversionTask &task,
                               const BatchOptions &options)
{
    const PlannedTask plan = Plan(paths, type, profileRow, outputFolder, task, options);
    if (!plan.profile)
        return {};
    if (!plan.problem.isEmpty())
        return {plan.problem};
    QStringList lines;
    for (const auto &addOn : plan.addOns)
        if (const QString line = addOn->Summary(); !line.isEmpty())
            lines.append(line);
    return lines;
}
