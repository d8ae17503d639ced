// SPDX-License-Identifier: GPL-3.0-or-later
// What a task does besides running its profile's passes: its part of a task cut into parts
// (its trim, its name, its progress shown with the other parts'), and the steps and checks of
// the batch options' add-ons.
#include "run/taskrun.h"

#include "enginehost.h"
#include "files/batchjournal.h"
#include "progress/errorlog.h"
#include "progress/progresstext.h"
#include "run/partgroup.h"
#include "tasklist.h"

#include <cstring>
#include <utility>

void TaskRun::SetPart(const Part &of, PartGroup *partGroup, int journalKey)
{
    part = of;
    group = partGroup;
    key = journalKey;
}

ConversionTask TaskRun::Task() const
{
    ConversionTask task = context.tasks.GetAt(row);
    if (group) {
        // Its own name once it has claimed one; until then the name it will try first.
        task.outputName = files.BaseName().isEmpty()
                              ? PartPlan::Name(group->BaseName(), part.number, group->Count())
                              : files.BaseName();
        task.beginSeconds = part.beginSeconds;
        task.endSeconds = part.endSeconds;
    }
    return task;
}

QString TaskRun::PrepareAddOns(const ConversionTask &task)
{
    addOns = AddOnsFor(context.options);
    if (addOns.empty())
        return QString();
    startTask = Task();
    startTask.outputName = files.BaseName();
    setup.reset(new TaskSetup{
        startTask, source, repacked ? files.Path(TaskFile::SourceCopy) : task.sourcePath, profile,
        *context.type, context.options, context.outputFolder,
        [this](const QString &suffix, int *error) { return files.ClaimScratch(suffix, error); },
        [this](const QString &suffix, const QByteArray &contents, int *error) {
            const QString path = files.ClaimScratch(suffix, error, contents);
            context.journal.SetTask(key, files.ToJson());
            return path;
        },
        group ? part.number : 0, group ? group->Count() : 0, group ? part.leadSeconds : 0.0});
    for (const auto &addOn : addOns) {
        const QString problem = addOn->Prepare(*setup);
        TakeAddOnNotes();
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

void TaskRun::TakeAddOnNotes()
{
    for (const auto &addOn : addOns)
        if (const QString note = addOn->TakeNote(); !note.isEmpty())
            context.log.Append(QStringLiteral("NOTE:    TASK        =   %1 (%2).\n       %3\n")
                                   .arg(row + 1)
                                   .arg(context.tasks.GetAt(row).sourcePath, note));
}

void TaskRun::QueueAddOnSteps(TaskAddOn::Stage stage)
{
    for (int a = 0; a < int(addOns.size()); ++a) {
        const QList<QStringList> added = addOns[a]->Steps(stage);
        for (int i = 0; i < added.size(); ++i)
            steps.append({a, stage, i, added.at(i)});
    }
}

// The steps of the stage in order; then pass 1 (before the passes) or the add-ons' checks.
void TaskRun::RunNextStep()
{
    if (!steps.isEmpty()) {
        RunPass(0);
        return;
    }
    if (stage == TaskAddOn::Stage::BeforePasses)
        RunPass(1);
    else
        CheckAddOns();
}

void TaskRun::OnStepEnded(const Step &step)
{
    if (step.addOn >= 0) {
        const QString problem =
            addOns[step.addOn]->StepEnded(step.stage, step.index, std::exchange(stepOutput, {}));
        TakeAddOnNotes();
        if (!problem.isEmpty()) {
            Fail(0, problem);
            return;
        }
        const Step ended = step; // the list is about to grow under the reference
        const QList<QStringList> next = addOns[ended.addOn]->StepsAfter(ended.stage, ended.index);
        for (int i = 0; i < next.size(); ++i)
            steps.insert(1 + i, {ended.addOn, ended.stage, ended.index + 1 + i, next.at(i)});
    }
    steps.removeFirst();
    RunNextStep();
}

void TaskRun::CheckAddOns()
{
    const QString output = files.Path(TaskFile::Output);
    for (const auto &addOn : addOns) {
        bool again = false;
        const QString problem = addOn->CheckOutput(output, &again);
        TakeAddOnNotes();
        if (problem.isEmpty())
            continue;
        if (!again || retries >= TaskAddOn::maxRetries) {
            Fail(context.type->PassCount(),
                 QStringLiteral("the finished file is not what was asked for: %1").arg(problem));
            return;
        }
        // Converted once more from pass 1: its intermediates are the task's again.
        ++retries;
        for (TaskFile file : context.type->Files())
            if (file != TaskFile::Output)
                if (const int error = files.ClaimExtra(file); error != 0) {
                    Fail(context.type->PassCount(),
                         QStringLiteral("%1, and %2 cannot be made to convert it again: %3")
                             .arg(problem, files.Path(file),
                                  QString::fromLocal8Bit(std::strerror(error))));
                    return;
                }
        context.journal.SetTask(key, files.ToJson());
        stage = TaskAddOn::Stage::BeforePasses;
        RunPass(1);
        return;
    }
    files.DeleteScratch(); // the add-ons' scratch files have served
    if (!group)
        files.Release(TaskFile::Output);
    Finish(true);
}

void TaskRun::ShowProgress()
{
    if (group) {
        group->SetFigures(part.number, encodedSeconds, sizeKB, framesPerSecond);
        return;
    }
    ConversionTask task = context.tasks.GetAt(row);
    task.framesPerSecond = framesPerSecond;
    task.sizeKB = sizeKB;
    task.encodedSeconds = encodedSeconds;
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
}

void TaskRun::SetState(int state)
{
    if (group) {
        group->SetState(part.number, state);
        return;
    }
    ConversionTask task = context.tasks.GetAt(row);
    task.state = state;
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
}
