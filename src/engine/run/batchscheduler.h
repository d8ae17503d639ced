// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "progress/batchoutcome.h"

#include <QList>
#include <QObject>

class TaskRun;
struct BatchContext;

// Runs the tasks of a batch in list order, up to `simultaneous` of them at once: a task starts
// when one ends. Stop stops every running task; tasks not started yet are left as they are.
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
    void StartNext();
    void OnTaskEnded(int row, bool finished);

    BatchContext &context;
    QList<TaskRun *> runs;
    int taskCount = 0;
    int limit = 1;
    int next = 0;
    BatchOutcome outcome;
    bool running = false;
    bool cancelled = false;
    bool starting = false;
};
