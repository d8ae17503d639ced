// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "progress/batchoutcome.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

class PartGroup;
class TaskRun;
struct BatchContext;

// Runs the tasks of a batch in list order, up to `simultaneous` of them at once: a task starts
// when one ends. A task the batch's options cut into parts runs as its parts, each taking a
// place of its own, side by side with each other and with the next tasks; a part that fails
// stops its task's others. Stop stops every running task; tasks not started yet are left as
// they are.
class BatchScheduler : public QObject
{
    Q_OBJECT

public:
    explicit BatchScheduler(BatchContext &context, QObject *parent = nullptr);
    ~BatchScheduler() override;

    // Rows 0..taskCount-1. ended may come before this returns (when nothing can run);
    // stopped: a Stop came before the batch could begin, nothing starts.
    void Start(int taskCount, int simultaneous, bool stopped = false);
    void Stop();
    bool IsRunning() const { return running; }
    bool Cancelled() const { return cancelled; }
    // How its tasks ended: finished, failed, stopped, or not reached after a Stop.
    const BatchOutcome &Outcome() const { return outcome; }

signals:
    void ended();

private:
    // What runs in one place: a task in one piece (part -1) or a part of one.
    struct Unit {
        int row = 0;
        int part = -1; // index into its group's parts
    };
    void StartNext();
    void Expand(int row);
    void OnTaskEnded(int row, bool finished);
    void PartEnded(PartGroup &group, int number, bool finished);
    void Count(int row, bool finished);

    BatchContext &context;
    QList<TaskRun *> runs;
    QList<Unit> queued;                            // parts of a task begun, waiting for a place
    QHash<int, std::shared_ptr<PartGroup>> groups; // by row, until all its parts ended
    int nextKey = 0;                               // journal keys of parts, after the rows
    int taskCount = 0;
    int limit = 1;
    int next = 0;
    BatchOutcome outcome;
    bool running = false;
    bool cancelled = false;
    bool starting = false;
};
