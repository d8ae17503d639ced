// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/journalwatcher.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>

// What the running tasks of a batch could leave behind if the program were killed: each
// task's files with their identities (see TaskFiles) and the process groups of its tools. One
// small file per running batch, rewritten whole at each change. A lock held for the batch's
// life, the journal's heartbeat and a watcher that outlives the program (JournalWatcher) tell
// a live batch from one whose program is gone; recovery takes over only the journals of gone
// programs, so no program cleans up under another's live batch, and the watcher's mark says
// when the program's tools last could write.
class BatchJournal
{
public:
    struct Recovery {
        QStringList removedFiles;
        QStringList keptFiles; // written since by someone else: not the gone batch's to remove
        int killedProcesses = 0;
    };

    explicit BatchJournal(const QString &folder);
    // A journal that still names files (ones that could not be removed) stays for the next
    // batch; an empty one goes.
    ~BatchJournal();
    BatchJournal(const BatchJournal &) = delete;
    BatchJournal &operator=(const BatchJournal &) = delete;

    // Makes sure the journal can be written; false (with the reason) when it cannot. The
    // journal lives, and its heartbeat runs, until the object goes.
    bool Open(QString *problem = nullptr);
    // How often a live program's journal shows it is alive.
    static constexpr int heartbeatMs = 2000;
    // A task's files as they are now (TaskFiles::ToJson), before its first tool starts.
    void SetTask(int row, const QJsonObject &files);
    // A tool of the task started in a process group of its own, whose id is its pid.
    void AddToolGroup(int row, qint64 pid);
    // That tool has ended (its watcher need not wait for it).
    void ToolEnded(qint64 pid);
    // The task has ended and cleaned up; its tools are gone.
    void EndTask(int row);

    QString Path() const { return journalPath; }

    // Ends the leftover tools and removes the leftover files of every journal in the folder
    // whose program is gone. Live programs' journals are left alone.
    static Recovery RecoverAbandoned(const QString &folder);

private:
    struct Task {
        QJsonObject files;
        QList<QPair<qint64, qint64>> groups; // process group id, its leader's start time
    };
    void Write();
    void Close(bool removeFile);
    void Touch();

    QString folder;
    QString journalPath;
    QString lockPath;
    QString markerPath;
    JournalWatcher watcher;
    int lockFd = -1;
    QHash<int, Task> tasks;
    // While tasks run, the journal's time says the program was alive: a file its tools were
    // writing and that changed later than that was written by someone else.
    QTimer heartbeat;
};
