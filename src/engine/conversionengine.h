// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchoptions.h"
#include "enginepaths.h"
#include "progress/batchoutcome.h"
#include "progress/errorlog.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class BatchJournal;
class BatchScheduler;
class EngineHost;
class OutputNamePlanner;
class TaskList;
struct BatchContext;

// The entry points the window and the command line use: the profile catalog shown through
// the host, and the batch behind the Start and Stop buttons. A batch runs in the event loop:
// Start returns at once, the tasks report through the host, and batchEnded comes when the last
// task has ended and the closing message has been shown.
class ConversionEngine : public QObject
{
    Q_OBJECT

public:
    ConversionEngine(EngineHost &host, TaskList &tasks, const EnginePaths &paths,
                     QObject *parent = nullptr);
    // A batch still running is ended at once: its tools are killed, its unfinished files go.
    ~ConversionEngine() override;

    const EnginePaths &Paths() const { return paths; }
    const ErrorLog &Log() const { return log; }

    // Shows the description and the profiles of an output type through the host and selects
    // its default profile. A missing file, or one without "Info" entries, changes nothing.
    void LoadProfiles(int outputType);

    // Starts a batch over every task of the list. Nothing starts when there is no task, or
    // the output folder is empty, missing or not writable (an "Error" box says so). Each task
    // ends finished, failed (a tool failed, or its result was not right) or cancelled by Stop.
    // The closing message counts them; the machine is shut down instead (when asked) only
    // after a batch whose every task finished.
    void OnStartClicked();
    // Stops the running batch: every running first pass is asked to quit (and killed when it
    // does not end in a few seconds), later passes are killed, and each stopped task deletes
    // its unfinished files once its tool has ended. Tasks not started stay as they are.
    void OnStopClicked();
    bool IsConverting() const { return converting; }

    // How many tasks convert at once; 0: as many as keep this machine busy.
    void SetSimultaneousTasks(int count) { simultaneous = qMax(0, count); }
    int SimultaneousTasks() const { return simultaneous; }
    // The number that 0 stands for on this machine.
    static int MachineTasks();
    // What the next batch does beyond converting with the profile: a size limit, parts,
    // loudness, subtitles. A running batch keeps what it started with.
    void SetOptions(const BatchOptions &batchOptions) { options = batchOptions; }
    const BatchOptions &Options() const { return options; }
    // A tool that writes nothing and grows no file for this long is ended and its task fails.
    static constexpr int defaultStallSeconds = 600;
    void SetStallSeconds(int seconds) { stallSeconds = seconds; }

    // Gives every task a name in the output folder the host shows (as the batch will try
    // first) and repaints the Output column.
    void PlanOutputNames();
    // The arguments (program resolved) of the tools a task would run now, in order: the steps
    // that repack its sound where it needs them, then its passes; empty without a usable profile.
    QList<QStringList> TaskCommands(int index) const;
    // What these options would do for a task, a line each (the Output cell's tip): sizes,
    // parts, subtitles found, or why it could not be converted with them.
    QStringList TaskSummaries(int index, const BatchOptions &batchOptions) const;
    // How the tasks of the batch that ended last ended.
    const BatchOutcome &LastOutcome() const { return outcome; }

signals:
    // Files that a batch of a program that is gone had left, removed as a batch started.
    void recovered(const QStringList &paths);
    void batchEnded();

private:
    bool CheckOutputFolder(const QString &folderText);
    void PlanOutputNames(OutputNamePlanner &planner);
    void RecoverAbandonedBatches();
    void ResetTaskProgress();
    void OnBatchEnded();
    QString OutputFolderText() const;

    EngineHost &host;
    TaskList &tasks;
    EnginePaths paths;
    ErrorLog log;
    int simultaneous = 1;
    int stallSeconds = defaultStallSeconds;
    BatchOptions options;
    bool converting = false;
    bool stoppedEarly = false; // a Stop came while the batch's first box was shown
    BatchOutcome outcome;
    QString outputFolder;
    std::unique_ptr<BatchJournal> journal;
    std::unique_ptr<OutputNamePlanner> names;
    std::unique_ptr<BatchContext> context;
    std::unique_ptr<BatchScheduler> scheduler;
};
