// SPDX-License-Identifier: GPL-3.0-or-later
// What a task would run, for printing: the same steps and passes as TaskRun starts, with
// nothing made and nothing run.
#include "run/taskrun.h"

#include "conversiontask.h"
#include "enginepaths.h"
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

QList<QStringList> TaskRun::Commands(const EnginePaths &paths, const OutputType *type,
                                     int profileRow, const QString &outputFolder,
                                     const ConversionTask &task, const BatchOptions &options)
{
    using PassArguments::Resolved;
    QList<QStringList> commands;
    if (!type)
        return commands;
    const std::optional<Profile> profile = ProfileCatalog(paths).Load(type->Index(), profileRow);
    if (!profile || !profile->HasPasses(type->PassCount()))
        return commands;
    SourceInfo source = SourceProbe::Probe(task.sourcePath);
    ConversionTask read = task;
    if (source.multiFrameAmr && source.audioIndex >= 0) { // as Start runs them: repack first
        const QString sound = outputFolder + type->FileName(TaskFile::SoundCopy, task.outputName);
        const QString copy = outputFolder + type->FileName(TaskFile::SourceCopy, task.outputName);
        for (int step = 1; step <= AmrRepack::stepCount; ++step)
            commands.append(Resolved(
                AmrRepack::StepArguments(step, task.sourcePath, source.audioIndex, sound, copy),
                paths));
        read.sourcePath = copy;
        source.audioIndex = 0;
    }
    const TaskSetup setup{task,
                          source,
                          read.sourcePath,
                          *profile,
                          *type,
                          options,
                          outputFolder,
                          [&](const QString &suffix, int *error) {
                              if (error)
                                  *error = 0;
                              return outputFolder + task.outputName + suffix;
                          }};
    const std::vector<std::unique_ptr<TaskAddOn>> addOns = AddOnsFor(options);
    for (const auto &addOn : addOns)
        if (!addOn->Prepare(setup).isEmpty())
            return {}; // the task would fail before anything runs
    for (const auto &addOn : addOns)
        for (const QStringList &step : addOn->Steps(TaskAddOn::Stage::BeforePasses))
            commands.append(Resolved(step, paths));
    const CommandTemplate::Values values = PassArguments::ValuesFor(outputFolder, read, source);
    for (int pass = 1; pass <= type->PassCount(); ++pass) {
        QStringList arguments =
            CommandTemplate::ExpandArguments(profile->PassTemplate(pass), values);
        for (const auto &addOn : addOns)
            addOn->EditPass(pass, arguments);
        commands.append(Resolved(arguments, paths));
    }
    for (const auto &addOn : addOns)
        for (const QStringList &step : addOn->Steps(TaskAddOn::Stage::AfterPasses))
            commands.append(Resolved(step, paths));
    return commands;
}
