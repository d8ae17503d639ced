// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/batchscheduler.h"

#include "conversiontask.h"
#include "run/taskrun.h"
#include "tasklist.h"

#include <algorithm>

BatchScheduler::BatchScheduler(BatchContext &context, QObject *parent)
    : QObject(parent), context(context)
{}

BatchScheduler::~BatchScheduler()
{
    qDeleteAll(runs); // each kills its tool and deletes its unfinished files
}

void BatchScheduler::Start(int count, int simultaneous, bool stopped)
{
    if (running)
        return;
    taskCount = count;
    limit = qMax(1, simultaneous);
    next = 0;
    outcome = BatchOutcome{};
    outcome.tasks = count;
    cancelled = stopped;
    running = true;
    StartNext();
}

void BatchScheduler::StartNext()
{
    if (starting)
        return; // a task that ended while it started: the loop below goes on
    starting = true;
    while (!cancelled && next < taskCount && runs.size() < limit) {
        auto *run = new TaskRun(context, next++, this);
        runs.append(run);
        connect(run, &TaskRun::ended, this, &BatchScheduler::OnTaskEnded);
        run->Start();
    }
    starting = false;
    if (running && runs.isEmpty() && (cancelled || next >= taskCount)) {
        running = false;
        emit ended();
    }
}

void BatchScheduler::OnTaskEnded(int row, bool finished)
{
    auto *run = qobject_cast<TaskRun *>(sender());
    if (finished) {
        ++outcome.finished;
    } else if (context.tasks.GetAt(row).state == TASK_CANCELED) {
        ++outcome.stopped;
    } else {
        ++outcome.failed;
        outcome.failedRows.insert(
            std::upper_bound(outcome.failedRows.begin(), outcome.failedRows.end(), row), row);
    }
    if (run) {
        runs.removeOne(run);
        run->deleteLater();
    }
    StartNext();
}

void BatchScheduler::Stop()
{
    if (!running || cancelled)
        return;
    cancelled = true;
    for (TaskRun *run : QList<TaskRun *>(runs))
        run->Stop();
    StartNext(); // nothing may be running at all
}
