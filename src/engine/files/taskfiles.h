// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/fileidentity.h"
#include "profiles/outputtypes.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The files one task writes into the output folder and the scratch files its tools may leave
// beside them. A task takes its names by creating every one of them exclusively (an empty
// placeholder that its tools later write or replace), so two tasks, in this program or in
// another, never share a name. It deletes only files it knows as its own: by identity, never
// by name alone.
class TaskFiles
{
public:
    TaskFiles() = default;
    // folder ends with a separator.
    TaskFiles(const QString &folder, const QString &baseName, const OutputType *type);

    QString Folder() const { return folder; }
    QString BaseName() const { return baseName; }
    QString Path(TaskFile file) const;
    QStringList Paths() const; // every file of the task, with its folder

    // Creates every file of the task, each only where no file (nor a link) has the name.
    // On failure nothing of it stays and the result is the errno (EEXIST: a name is taken).
    int Claim();
    // Takes one more name for the task the same way (the source's copies); 0 or the errno.
    int ClaimExtra(TaskFile file);
    // Takes a scratch name of the task's own, "<base><suffix>", the same way; any of the
    // task's tools may write or replace it, and it goes with the task's other files. Its path,
    // or empty with the errno in *error.
    QString ClaimScratch(const QString &suffix, int *error = nullptr);
    // A pass begins: its tools may now write or replace these files.
    void BeginPass(int pass);
    // The pass has ended: the files it wrote, as they are now, are the task's own.
    void EndPass();
    // Deletes one of the task's files while it is still its own.
    void Delete(TaskFile file);
    // Deletes every file the task still owns (also those the running pass's tools wrote
    // or put in place) and the scratch files that appeared during the task.
    // Returns the paths that should have gone but could not be deleted.
    QStringList DeleteAll();
    // True once no file of the task is its own any more (all deleted or given up).
    bool OwnsNothing() const { return owned.isEmpty(); }
    // Gives up the finished output: it is the user's from now on.
    void Release(TaskFile file);

    // For the journal: the owned files with their identities, and the scratch state.
    QJsonObject ToJson() const;
    // Deletes what a task journaled by a program that is gone still owns: a file only while
    // it is the same file untouched since (or, for the files its running pass wrote into, the
    // same file not written after lastAliveNs, when the program and its tools were last
    // alive); scratch files that appeared after it began. Returns the removed paths.
    static QStringList RecoverFromJson(const QJsonObject &object, qint64 lastAliveNs);

    // The scratch files (without folder) that a tool killed in the middle of a write leaves:
    // "<name>-temp-12345.3gp" of a file rewritten in place, ".<name>.3gp.Ab12Cd" staging.
    static QStringList ScratchIn(const QString &folder, const QString &baseName);

private:
    struct Owned {
        TaskFile file;
        FileIdentity identity;
        QString name; // a scratch file's name; empty for the type's own files
    };
    QString PathOf(const Owned &owned) const;
    bool IsOwn(const Owned &owned, const FileIdentity &now) const;
    bool DeleteOwned(const Owned &owned);

    QString folder;
    QString baseName;
    const OutputType *type = nullptr;
    QList<Owned> owned;
    int runningPass = -1; // none
    qint64 passStartNs = 0;
    qint64 claimedNs = 0; // scratch files born since are the task's tools'
    QStringList scratchBefore;
};
