// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class TaskFiles;

// What a running batch could leave behind if the program were killed: the files of the task
// whose passes run (recorded before its first tool starts, when none of them exists yet) and
// the process groups of its tools. One small file per running program in the user's data
// folder, rewritten whole at each change. A lock held for the program's life tells a live
// batch from one whose program is gone; the next start takes over only the journals of gone
// programs, so two programs never clean up after each other's live batch.
class BatchJournal
{
public:
    struct Recovery {
        QStringList removedFiles;
        int killedProcesses = 0;
    };

    // folder empty: DefaultFolder().
    explicit BatchJournal(const QString &folder = QString());
    // A journal that still names files (ones that could not be removed) stays for the next
    // start; an empty one goes.
    ~BatchJournal();
    BatchJournal(const BatchJournal &) = delete;
    BatchJournal &operator=(const BatchJournal &) = delete;

    static QString DefaultFolder();

    // Before a task's first pass: the files it will write (none of them exists yet) and its
    // scratch files, those that already exist being known as someone else's.
    void BeginTask(const QStringList &paths, const TaskFiles &files);
    // A tool started in a process group of its own, whose id is its pid.
    void AddToolGroup(qint64 pid);
    // The task has ended and cleaned up; `leftovers` are its files that could not be removed
    // and stay journaled for the next start.
    void EndTask(const QStringList &leftovers = QStringList());

    // Whether this program has a journal on disk now.
    bool IsWritten() const { return !journalPath.isEmpty(); }
    QString Path() const { return journalPath; }

    // Ends the leftover tools and removes the leftover files of every journal in `folder`
    // whose program is gone; live programs' journals are left alone. A file is removed only
    // while it is still the batch's: it exists and has not been written before its task began.
    static Recovery RecoverAbandoned(const QString &folder = QString());

private:
    bool Open();
    void Write();
    void Close(bool removeFile);

    QString folder;
    QString journalPath;
    QString lockPath;
    int lockFd = -1;
    QStringList files;
    QString scratchFolder, scratchBase;
    QStringList scratchBefore;
    qint64 since = 0;                    // ms since the epoch: when the task began
    QList<QPair<qint64, qint64>> groups; // process group id, its leader's start time
};
