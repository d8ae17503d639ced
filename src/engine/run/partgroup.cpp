// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/partgroup.h"

#include "conversiontask.h"
#include "enginehost.h"
#include "files/batchjournal.h"
#include "files/outputnameplanner.h"
#include "progress/progresstext.h"
#include "run/taskrun.h"
#include "tasklist.h"

#include <QFileInfo>

PartGroup::PartGroup(BatchContext &context, int row, const QList<Part> &parts)
    : context(context), row(row), baseName(OutputNamePlanner::BaseName(context.tasks.GetAt(row))),
      parts(parts), figures(parts.size())
{}

PartGroup::~PartGroup()
{
    if (!resolved)
        for (Kept &k : kept) {
            k.files.DeleteAll();
            context.journal.EndTask(k.key);
        }
}

void PartGroup::SetFigures(int number, double encodedSeconds, qint32 sizeKB, double framesPerSecond)
{
    Figures &f = figures[number - 1];
    f.encodedSeconds = encodedSeconds;
    f.sizeKB = sizeKB;
    f.framesPerSecond = framesPerSecond;
    ShowInRow();
}

void PartGroup::SetState(int number, int state)
{
    figures[number - 1].state = state;
    ShowInRow();
}

void PartGroup::Keep(int number, const TaskFiles &files, int key)
{
    kept.append({files, key});
    context.journal.SetTask(key, files.ToJson());
    Figures &f = figures[number - 1];
    f.finished = true;
    f.encodedSeconds = parts.at(number - 1).Seconds();
    f.sizeKB = qint32(QFileInfo(files.Path(TaskFile::Output)).size() / 1024);
    f.framesPerSecond = 0;
}

bool PartGroup::PartEnded(int number, bool finished)
{
    Figures &f = figures[number - 1];
    f.ended = true;
    f.framesPerSecond = 0;
    if (!finished && f.state == TASK_IDLE)
        f.state = TASK_CANCELED; // never ran: stopped with the others
    failed = failed || !finished;
    ShowInRow();
    return std::all_of(figures.cbegin(), figures.cend(), [](const Figures &g) { return g.ended; });
}

bool PartGroup::Resolve()
{
    resolved = true;
    for (Kept &k : kept) {
        if (failed)
            k.files.DeleteAll();
        else
            k.files.Release(TaskFile::Output);
        if (k.files.OwnsNothing())
            context.journal.EndTask(k.key);
        else
            context.journal.SetTask(k.key, k.files.ToJson());
    }
    kept.clear();
    ConversionTask task = context.tasks.GetAt(row);
    task.finished = failed ? 0 : 1;
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
    return !failed;
}

void PartGroup::ShowInRow()
{
    ConversionTask task = context.tasks.GetAt(row);
    task.encodedSeconds = 0;
    task.sizeKB = 0;
    task.framesPerSecond = 0;
    // The row's stage: a failure first, then a stop, else the first part still to finish.
    int state = -1;
    bool anyFailed = false, anyCancelled = false;
    for (const Figures &f : std::as_const(figures)) {
        task.encodedSeconds += f.encodedSeconds;
        task.sizeKB += f.sizeKB;
        task.framesPerSecond += f.framesPerSecond;
        anyFailed = anyFailed || f.state == TASK_FAILED;
        anyCancelled = anyCancelled || f.state == TASK_CANCELED;
        if (state < 0 && !f.finished)
            state = qMax(int(TASK_ENCODING), f.state);
    }
    task.state = anyFailed      ? TASK_FAILED
                 : anyCancelled ? TASK_CANCELED
                 : state < 0    ? task.state
                                : state;
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
}
