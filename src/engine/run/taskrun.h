// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchoptions.h"
#include "conversiontask.h"
#include "files/fileidentity.h"
#include "files/taskfiles.h"
#include "fit/partplan.h"
#include "mediacheck/sourceprobe.h"
#include "profiles/commandtemplate.h"
#include "profiles/profilecatalog.h"
#include "run/runresult.h"
#include "run/taskaddon.h"

#include <QObject>
#include <QPointer>

class BatchJournal;
class EngineHost;
class ErrorLog;
class OutputNamePlanner;
class OutputType;
class PartGroup;
class PassRunner;
class TaskList;
class QThread;
struct ConversionTask;

// What the tasks of one batch share: set at Start, read by every task run.
struct BatchContext {
    EngineHost &host;
    TaskList &tasks;
    const EnginePaths &paths;
    const ErrorLog &log;
    BatchJournal &journal;
    OutputNamePlanner &names;
    const OutputType *type = nullptr;
    int profileRow = -1;
    QString outputFolder; // ends with a separator
    int stallSeconds = 0;
    BatchOptions options;
};

// The passes of one task, in order: its name claimed, each pass's command expanded and its
// tool run, the task's state and progress kept in its row, its intermediates deleted, the
// result checked. Ends with `ended`: finished, failed (with the reason in the log) or
// cancelled by Stop. Whatever ends it, nothing of its own stays that looks finished.
class TaskRun : public QObject
{
    Q_OBJECT

public:
    TaskRun(BatchContext &context, int row, QObject *parent = nullptr);
    // A run destroyed mid-pass (the program closing) kills its tool and cleans up at once.
    ~TaskRun() override;

    int Row() const { return row; }
    // Makes the run one part of its row's task (before Start): its trim, its name
    // "Name (part 2 of 3)", its lead-in; the row shows the group's progress, and a part that
    // finished stays the group's until all have. `key` names it in the journal.
    void SetPart(const Part &part, PartGroup *group, int key);
    const Part &PartOf() const { return part; }
    // Starts the first pass; ended may come before this returns.
    void Start();
    // A first pass is asked to quit, a later one killed; the task then ends cancelled once
    // its tool has ended and its files are deleted.
    void Stop();
    bool IsRunning() const { return running; }

    // The arguments (program resolved) of every pass the task would run now; empty when it
    // has no usable profile.
    static QList<QStringList> Commands(const EnginePaths &paths, const OutputType *type,
                                       int profileRow, const QString &outputFolder,
                                       const ConversionTask &task,
                                       const BatchOptions &options = BatchOptions());
    // What the batch's options will do for the task (its add-ons' summaries: its likely size,
    // its parts), or why it cannot be converted with them; empty without a usable profile.
    static QStringList Summaries(const EnginePaths &paths, const OutputType *type, int profileRow,
                                 const QString &outputFolder, const ConversionTask &task,
                                 const BatchOptions &options);

    // The task as this run converts it: the row's, or its part's trim and name.
    ConversionTask Task() const;

signals:
    void ended(int row, bool finished);

private:
    // One part's commands (or the whole task's, part nullptr), as Commands lists them.
    static QList<QStringList> PartCommands(const EnginePaths &paths, const OutputType *type,
                                           int profileRow, const QString &outputFolder,
                                           const ConversionTask &task, const BatchOptions &options,
                                           const Part *part, int partCount);

private:
    // A tool run of the task's own before pass 1 or after the last: the source's sound
    // repacked (addOn -1), or a step of a batch option's add-on.
    struct Step {
        int addOn = -1;
        TaskAddOn::Stage stage = TaskAddOn::Stage::BeforePasses;
        int index = 0;
        QStringList arguments;
    };

    QString PrepareAddOns(const ConversionTask &task);
    void TakeAddOnNotes();
    void QueueAddOnSteps(TaskAddOn::Stage stage);
    void RunNextStep();
    void OnStepEnded(const Step &step);
    void CheckAddOns();
    void RunPass(int pass);
    void OnPassEnded(const RunResult &result);
    void ParseProgress(const QByteArray &chunk);
    void SetState(int state);
    void ShowProgress();
    void Complete();
    void OnCheckEnded(const QString &problem, const SoundLevels &levels);
    void Fail(int pass, const QString &status, const QString &command = QString(),
              const QStringList &lastLines = QStringList(), const QString &reason = QString());
    void EndCancelled();
    void Finish(bool finished);
    QString StartProblem(ConversionTask &task);
    void CleanUp();
    qint64 FilesProgress() const;

    BatchContext &context;
    const int row;
    Part part;                  // number 0: the whole task
    PartGroup *group = nullptr; // of the row's parts, when this is one
    int key;                    // in the journal: the row, or the part's own
    Profile profile;
    SourceInfo source;
    TaskFiles files;
    QPointer<PassRunner> runner;
    // The read-back check while it runs.
    QThread *checker = nullptr;
    int pass = 0; // 0: a step of the task's own runs (see steps)
    TaskAddOn::Stage stage = TaskAddOn::Stage::BeforePasses;
    QList<Step> steps;     // the steps of the stage that runs, the running one first
    bool repacked = false; // the passes read the source's copy with its sound repacked
    std::vector<std::unique_ptr<TaskAddOn>> addOns;
    ConversionTask startTask; // as the task started: what the add-ons were prepared for
    std::unique_ptr<TaskSetup> setup;
    QByteArray stepOutput; // what the running step printed, its last 256 KB
    int retries = 0;
    QString command; // the running pass's, for the log
    QString tool;    // its program as the profile names it
    bool running = false;
    bool cancelled = false;
    quint32 startTick = 0;
    char previousChunkEnd = '\n';
    double encodedSeconds = 0; // the figures of the running tool's status lines
    qint32 sizeKB = 0;
    double framesPerSecond = 0;
    FileIdentity sourceStamp;
    qint64 sourceModified = 0;
};
