// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batchjournal.h"
#include "inireader.h"
#include "outputtail.h"
#include "runresult.h"
#include "taskfiles.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class EngineHost;
class TaskList;
struct ConversionTask;
class QEventLoop;
class QProcess;

// What an output type (the selection of the output-type box) decides.
struct OutputTypeInfo {
    const char *profileFile; // relative: read from the current directory, the app folder
    int passCount;           // passes per task
    const char *extension;   // of the finished file, with its dot
    const char *itemText;    // the output-type box's item
};

// The engine state of one program run: the profile catalog, the task being converted, the
// encoder tools and their progress. It reads controls and acts on them only through its host,
// so the window, the command line and the tests drive it alike. Everything runs on the UI
// thread; the runners serve events while a tool runs, so any handler may run inside them.
class ConversionEngine
{
public:
    ConversionEngine(EngineHost &host, TaskList &tasks);
    ~ConversionEngine(); // kills tools still running
    ConversionEngine(const ConversionEngine &) = delete;
    ConversionEngine &operator=(const ConversionEngine &) = delete;

    // nullptr for anything but 0, 1 and 2.
    static const OutputTypeInfo *OutputType(int outputType);
    // Milliseconds of a monotonic clock; take differences as unsigned 32-bit values.
    static quint32 TickCount();

    // --- profile catalog
    // Shows the description and the profiles of an output type through the host and selects
    // its default profile. A missing file, or one without "Info" entries, changes nothing.
    void LoadProfiles(int outputType);
    // Reads the selected profile's entries into profileKeys/profileCommands. Returns the number
    // of sections of the profile file, or 0 (and empty lists) when there is no usable
    // profile: no output type or no profile row selected, or a row past the file's sections.
    int LoadProfileCommands();
    // The template of pass 1..5 from profileCommands; empty when the profile has no such entry.
    QString PassTemplate(int pass) const;
    // True when the loaded profile has an entry for each of the first passCount passes.
    bool ProfileHasPasses(int passCount) const;

    // --- command templates (the task at currentTaskIndex, outputFolder and the clock)
    // The command line as text, for the log and for display.
    QString ExpandCommand(const QString &commandTemplate) const;
    // The arguments that the runners start, program first.
    QStringList ExpandArguments(const QString &commandTemplate) const;
    // A bare name of an executable in the current directory (the app folder, where our own
    // tools live) wins; any other bare name is looked up on PATH. Empty when not found.
    static QString ResolveProgram(const QString &name);

    // --- progress
    // Takes the figures of one chunk of pass-1 output into the current task and repaints its
    // Progress cell. A figure missing from the chunk keeps its previous value.
    void ParseProgress(QByteArrayView chunk);

    // --- encoder tools
    // Runs pass 1: output and error merged into one channel read in chunks of at most 255
    // bytes, each handed to ParseProgress, then host.PumpMessages(); standard input stays open
    // for the quit request. Returns when the tool has ended or cancelRequested is seen after
    // a pump (the tool may then still run: see WaitForEncoderEnd). A tool that cannot start
    // leaves a "CreateProcess" entry in the log.
    RunResult RunPipedProcess(const QStringList &arguments);
    // Runs a later pass with no input and waits for its end; its output is kept only as the
    // result's last lines. When cancelRequested is seen after a pump the tool is killed.
    RunResult RunProcessAndWait(const QStringList &arguments);
    // Asks the pass-1 tool to stop: writes "q" and closes its input. At most once per run of
    // RunPipedProcess; nothing when the tool has ended. Its output is still drained until it
    // ends, so it can never block on a full pipe or die of a closed one.
    void RequestEncoderQuit();
    // Sets cancelRequested and wakes a runner that is waiting, so it returns at once.
    void RequestCancel();
    // Whether the pass-1 tool is still running (also after RunPipedProcess returned).
    bool IsEncoderRunning() const;
    // Serves events and drains the pass-1 tool's output until it ends or the time is up.
    // True when no pass-1 tool is running any more.
    bool WaitForEncoderEnd(int timeoutMs);
    // The pass-1 tool's state now: whether it has ended and how, its output's last lines.
    // After a Stop this tells how the tool took the quit request.
    RunResult EncoderState() const;
    // Kills every tool still running and reaps it.
    void KillRunningTools();

    // --- error log "log.txt"
    static QString FormatLogEntry(const QString &apiName, int errorCode, const QString &message);
    // One entry for a failed operation with the system's code and text for it.
    static void LogApiError(const QString &apiName, int errorCode, const QString &systemText);
    // The same for the calling thread's errno.
    static void LogApiError(const QString &apiName);
    // Appends to "log.txt" in the current directory (or in `folder`); where that cannot be
    // written, to "log.txt" in the per-user data folder. Never truncates; failures are silent.
    static void AppendToLog(const QString &text, const QString &folder = QString());

    // --- start-up
    // Ends the tools and removes the files that batches of killed programs left behind (see
    // BatchJournal), with an entry in the app folder's log. Returns the removed files.
    static QStringList RecoverInterruptedBatches();

    // --- batch driver (the Start and Stop buttons)
    // Runs the whole batch and returns when it has ended. Nothing starts when there is no
    // task, the output folder is empty, missing or not writable (an "Error" box says so).
    // A task ends finished, failed (a tool failed or left no output), or cancelled by Stop.
    void OnStartClicked();
    // Stops the running batch: asks pass 1 to quit (killing it when it does not end in a few
    // seconds) or kills a later pass, and once no tool runs any more deletes the files the
    // interrupted task had written. Returns when that is done; the batch then unwinds.
    void OnStopClicked();
    // The passes of the current task. True when the task completed; on failure the task is
    // in TASK_FAILED with a log entry, on Stop in TASK_CANCELED.
    bool RunTaskPasses();
    // Read-modify-write of the current task's state, then a repaint of its Progress cell.
    void SetTaskState(int state);
    // Clears finished and the progress figures of every task; the state is kept.
    void ResetTaskProgress();
    // Gives every task a unique outputName in outputFolder (see OutputNamePlanner) and
    // repaints the Output column.
    void PlanOutputNames();
    // The argument lists (program resolved) of the passes a task would run now, in order;
    // empty when it has no usable profile.
    QList<QStringList> TaskCommands(int index);
    // The log entry for a failed task: which task and pass, how the tool ended, its command
    // and its last lines of output.
    static QString FormatTaskFailure(int taskIndex, const ConversionTask &task, int pass,
                                     const QString &status, const QString &command,
                                     const QStringList &lastLines);

    // --- state of the run
    int converting = 0;           // 1 while OnStartClicked runs a batch
    int currentPass = 0;          // the pass (1..5) of the current task that runs; 0 between
    int currentTaskIndex = 0;     // the task whose passes run
    bool cancelRequested = false; // set by Stop; the runners test it after every pump
    quint32 taskStartTick = 0;    // TickCount() when the current task's passes began
    CIniReader iniReader;         // the current profile file
    QStringList sectionNames;     // its sections, in file order
    QStringList profileKeys;      // the selected profile's entries: keys...
    QStringList profileCommands;  // ...and values; index 1..5 are the passes' templates

private:
    bool BeginBatch();
    void EndBatch();
    bool CheckOutputFolder(const QString &folderText);
    RunResult RunPass(int pass, const QString &commandTemplate);
    bool FailTask(int pass, const QString &status, const QString &command = QString(),
                  const QStringList &lastLines = QStringList());
    void RemoveStoppedFiles(int state, int outputType);
    QString TaskStartProblem(int outputType) const;
    void EndTaskJournal(bool completed);

    std::unique_ptr<QProcess> NewProcess();
    bool StartTool(QProcess &process, const QStringList &arguments, RunResult &result);
    // Hands waiting pass-1 output to the parser. True when cancelRequested was seen.
    bool ReadEncoderChunks();
    void DrainEncoder();
    void FinishPreviousEncoder();
    // Sleeps in a nested event loop until the tool writes or ends, RequestCancel, or at most
    // timeoutMs; never spins.
    void WaitForActivity(QProcess &process, int timeoutMs);
    static void CollectEnd(const QProcess &process, RunResult &result);

    EngineHost &host;
    TaskList &tasks;

    std::unique_ptr<QProcess> encoder;   // the pass-1 tool, kept until the next pass 1
    std::unique_ptr<QProcess> laterPass; // the tool of the running later pass
    OutputTail encoderTail;
    bool encoderStarted = false;
    bool encoderReading = false; // RunPipedProcess is reading the encoder's output
    bool waitingForLater = false;
    bool quitSent = false;
    char previousChunkEnd = '\n'; // a key right at a chunk's start needs the byte before it
    QString readError;
    QList<QEventLoop *> activeWaits; // innermost last; RequestCancel wakes them all
    TaskFiles currentFiles;          // of the task whose passes run
    BatchJournal journal;            // what a kill in the middle of the task would leave
    bool taskJournaled = false;      // the current task's files are in the journal
};
