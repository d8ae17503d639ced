// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/batchscheduler.h"

#include "run/taskrun.h"

#include <limits>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/resource.h>
#endif

namespace {

// What a task holds while it starts (its tool's pipes, the source probed, the journal
// rewritten) and a little to spare: measured at up to 10 descriptors per starting task and
// 3 to 4 per running one.
constexpr int descriptorsToStartTask = 12;

// How many more files this process may open now.
int FreeDescriptors()
{
#ifdef Q_OS_UNIX
    struct rlimit limit {
    };
    DIR *open = ::opendir("/proc/self/fd");
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || !open) {
        if (open)
            ::closedir(open);
        return std::numeric_limits<int>::max();
    }
    long used = 0;
    while (const dirent *entry = ::readdir(open))
        used += entry->d_name[0] != '.';
    ::closedir(open);
    return int(qBound(0L, long(limit.rlim_cur) - used, long(std::numeric_limits<int>::max())));
#else
    return std::numeric_limits<int>::max();
#endif
}

} // namespace

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
    // With few descriptors left (a low "ulimit -n"), fewer tasks run at once rather than
    // some failing for want of one; one always runs, and each that ends lets the next start.
    while (!cancelled && next < taskCount && runs.size() < limit &&
           (runs.isEmpty() || FreeDescriptors() >= descriptorsToStartTask)) {
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
