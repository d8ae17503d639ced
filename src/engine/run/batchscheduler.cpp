// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/batchscheduler.h"

#include "run/taskrun.h"

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
    finishedCount = 0;
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

void BatchScheduler::OnTaskEnded(int, bool finished)
{
    auto *run = qobject_cast<TaskRun *>(sender());
    if (finished)
        ++finishedCount;
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
