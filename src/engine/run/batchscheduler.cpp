// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/batchscheduler.h"

#include "conversiontask.h"
#include "fit/fitparts.h"
#include "profiles/outputtypes.h"
#include "run/partgroup.h"
#include "run/taskrun.h"
#include "tasklist.h"

#include <algorithm>
#include <utility>

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
    nextKey = count;
    outcome = BatchOutcome{};
    outcome.tasks = count;
    cancelled = stopped;
    running = true;
    StartNext();
}

// A task whose options may cut it is looked at as it comes up: cut, it queues its parts.
void BatchScheduler::Expand(int row)
{
    const BatchOptions &options = context.options;
    if ((options.splitIntoParts || options.partSeconds > 0) && context.type) {
        const std::optional<Profile> profile =
            ProfileCatalog(context.paths).Load(context.type->Index(), context.profileRow);
        const ConversionTask task = context.tasks.GetAt(row);
        if (profile && task.endSeconds > task.beginSeconds) {
            const FitParts::Split split = FitParts::For(
                *profile, *context.type, SourceProbe::Probe(task.sourcePath), task, options);
            if (!split.parts.isEmpty()) {
                groups.insert(row, std::make_shared<PartGroup>(context, row, split.parts));
                for (int i = 0; i < split.parts.size(); ++i)
                    queued.append({row, i});
                return;
            }
        }
    }
    // In one piece; a task that cannot be cut as asked fails there, saying why.
    queued.append({row, -1});
}

void BatchScheduler::StartNext()
{
    if (starting)
        return; // a task that ended while it started: the loop below goes on
    starting = true;
    // With few descriptors left (a low "ulimit -n"), fewer tasks run at once rather than
    // some failing for want of one; one always runs, and each that ends lets the next start.
    while (!cancelled && (!queued.isEmpty() || next < taskCount) && runs.size() < limit &&
           (runs.isEmpty() || FreeDescriptors() >= descriptorsToStartTask)) {
        if (queued.isEmpty())
            Expand(next++);
        const Unit unit = queued.takeFirst();
        auto *run = new TaskRun(context, unit.row, this);
        if (unit.part >= 0) {
            const std::shared_ptr<PartGroup> group = groups.value(unit.row);
            run->SetPart(group->PartAt(unit.part), group.get(), nextKey++);
        }
        runs.append(run);
        connect(run, &TaskRun::ended, this, &BatchScheduler::OnTaskEnded);
        run->Start();
    }
    starting = false;
    if (running && runs.isEmpty() && (cancelled || (queued.isEmpty() && next >= taskCount))) {
        // Parts that never ran after a Stop: their tasks end with them.
        for (const Unit &unit : std::exchange(queued, {}))
            if (const std::shared_ptr<PartGroup> group = groups.value(unit.row))
                PartEnded(*group, group->PartAt(unit.part).number, false);
        running = false;
        emit ended();
    }
}

void BatchScheduler::OnTaskEnded(int row, bool finished)
{
    auto *run = qobject_cast<TaskRun *>(sender());
    if (run) {
        runs.removeOne(run);
        run->deleteLater();
    }
    if (const std::shared_ptr<PartGroup> group = groups.value(row); group && run)
        PartEnded(*group, run->PartOf().number, finished);
    else
        Count(row, finished);
    StartNext();
}

// A task ended, in one piece or once all its parts have: finished, stopped or failed.
void BatchScheduler::Count(int row, bool finished)
{
    if (finished) {
        ++outcome.finished;
    } else if (context.tasks.GetAt(row).state == TASK_CANCELED) {
        ++outcome.stopped;
    } else {
        ++outcome.failed;
        outcome.failedRows.insert(
            std::upper_bound(outcome.failedRows.begin(), outcome.failedRows.end(), row), row);
    }
}

void BatchScheduler::PartEnded(PartGroup &group, int number, bool finished)
{
    const int row = group.Row();
    const bool wasFailed = group.Failed();
    bool all = group.PartEnded(number, finished);
    if (group.Failed() && !wasFailed) {
        // One part failed or was stopped: the task is lost, its other parts go too.
        for (qsizetype i = queued.size() - 1; i >= 0; --i)
            if (queued.at(i).row == row) {
                all = group.PartEnded(group.PartAt(queued.at(i).part).number, false);
                queued.removeAt(i);
            }
        for (TaskRun *other : std::as_const(runs))
            if (other->Row() == row)
                other->Stop();
    }
    if (!all)
        return;
    Count(row, group.Resolve());
    groups.remove(row);
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
