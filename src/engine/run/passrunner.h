// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "progress/outputtail.h"
#include "run/runresult.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <functional>

// One run of one encoder tool, owned from start to end: the process in a group of its own,
// its console output, the quit request, the kill, and the time limits. It reports by
// signals and never waits: the caller goes on serving events while the tool runs.
class PassRunner : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Piped, // the first pass: output and error merged and read in chunks, input open for "q"
        Quiet, // a later pass: no input, its output kept only as the last lines for the log
    };

    explicit PassRunner(Mode mode, QObject *parent = nullptr);
    // Kills a tool still running, with every process of its group, and reaps it.
    ~PassRunner() override;

    // Bytes of the status text handed on at once, at most.
    static constexpr int chunkBytes = 255;
    // How long the first pass may take to close its file after "q" before it is killed.
    // ffmpeg needs a fraction of a second; the rest is room for a loaded machine.
    static constexpr int quitGraceMs = 3000;

    // A tool that writes nothing and grows none of its files for this long is ended as
    // stalled. progress returns a figure that changes while the tool works (the sizes of the
    // files it writes); 0 seconds: no limit.
    void SetStallLimit(int seconds, std::function<qint64()> progress);
    // A tool that writes into this folder and makes no progress for a few seconds while the
    // folder's disk is full is ended at once, not only after the stall limit.
    void SetDiskFolder(const QString &folder) { diskFolder = folder; }
    static constexpr int fullDiskQuietMs = 5000;
    // Below this, a disk counts as full: no tool gets a useful write done.
    static constexpr qint64 fullDiskBytes = 64 * 1024;
    // What the folder's file system has left for us; the largest number where it cannot say.
    static qint64 FreeBytes(const QString &folder);

    // The folder the tool runs in (the app folder: a tool that drops files of its own beside
    // itself writes them there or, where that is read-only, nowhere).
    void SetWorkingDirectory(const QString &folder) { process.setWorkingDirectory(folder); }
    // Starts the tool: arguments hold the program, already resolved, first. A tool that
    // cannot start ends at once (ended comes from the event loop, never inside Start).
    void Start(const QStringList &arguments);
    // A first pass gets "q" on its input (once) and is killed if it has not ended after
    // quitGraceMs; a later pass is killed at once.
    void RequestStop();
    // Kills the tool's whole group now; ended follows from the event loop.
    void Kill();
    bool IsRunning() const;

    // A bare tool name is looked up in the app folder, then in the absolute folders of PATH;
    // never in the current directory. Empty when not found.
    static QString ResolveProgram(const QString &name, const QString &appFolder);

signals:
    // The tool's process group exists (its id is pid), before the tool can start others.
    void started(qint64 pid);
    // A piece of the first pass's console output, in order.
    void output(const QByteArray &chunk);
    void ended(const RunResult &result);

private:
    void ReadOutput();
    void OnFinished();
    void OnError(QProcess::ProcessError error);
    void CheckProgress();
    void KillGroup();
    void EndLater(RunResult result);

    Mode mode;
    QProcess process;
    RunResult result;
    OutputTail tail;
    QTimer graceTimer;
    QTimer stallTimer;
    QElapsedTimer sinceActivity;
    QElapsedTimer sinceProgressCheck;
    QString diskFolder;
    std::function<qint64()> progress;
    qint64 lastProgress = -1;
    qint64 stallMs = 0;
    bool done = false;
    bool stopping = false;
};
