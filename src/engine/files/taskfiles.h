// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/fileidentity.h"
#include "profiles/outputtypes.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The files one task writes into the output folder and the scratch files its tools may leave
// beside them. A task takes its names by creating every one of them exclusively (an empty
// placeholder that its tools later write or replace), so two tasks, in this program or in
// another, never share a name. A file is the task's only while nothing but the task has
// written it since the task last saw it: the same file with the size and times the task left
// it, or, for the files its running pass writes, changed as a tool's writes change a file.
// It deletes only files it knows as its own, never by name alone; a file someone else wrote
// over is let go of (kept, and told through TakeLost).
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
    // or empty with the errno in *error. `contents` are written into it before it counts as
    // the task's, for a file the program writes itself.
    QString ClaimScratch(const QString &suffix, int *error = nullptr,
                         const QByteArray &contents = {});
    // A pass begins: its tools may now write or replace its files. False when a file of the
    // task was written over or removed by someone else since the task last saw it (the pass
    // must not run: it would write over that file).
    bool BeginPass(int pass);
    // The pass has ended (its tools are gone): the files it wrote, as they are now, are the
    // task's own, unless they show another hand.
    void EndPass();
    bool Owns(TaskFile file) const;
    // The files found written over or removed by someone else since the last call.
    QStringList TakeLost();
    // Deletes one of the task's files while it is still its own.
    void Delete(TaskFile file);
    // Deletes the scratch files the task claimed (ClaimScratch) while they are its own: done
    // with, as when it finished. Those that could not be deleted stay the task's.
    void DeleteScratch();
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
    // it is as the task last saw it, or, for the files its running pass wrote into, changed as
    // a tool's writes change a file no later than endedNs (when the program, and with it its
    // tools, ended); scratch files that appeared after it began and were not written after
    // endedNs. Anything else was written by someone else since: it is kept.
    struct Recovered {
        QStringList removed;
        QStringList kept;
    };
    static Recovered RecoverFromJson(const QJsonObject &object, qint64 endedNs);

    // The scratch files (without folder) that the tools writing the named files leave when
    // killed in the middle of a write: "<name>-temp-12345.3gp" of a file rewritten in place,
    // ".<name>.3gp.Ab12Cd" and ".<name>.3gp.12345.partial" staging. Only the exact shapes of
    // those names: another task's files, and the scratch of its files, never match, whatever
    // the two are named (see OutputNamePlanner for the one base name that would).
    static QStringList ScratchIn(const QString &folder, const QStringList &fileNames);
    // The scratch files of this task's files that are in the folder now.
    QStringList Scratch() const { return ScratchIn(folder, names); }

private:
    struct Owned {
        TaskFile file;
        FileIdentity identity;
        QString name; // a scratch file's name; empty for the type's own files
    };
    QString PathOf(const Owned &owned) const;
    bool IsOwn(const Owned &owned, const FileIdentity &now) const;
    bool WrittenByPass(const Owned &owned, const FileIdentity &now) const;
    void Review();
    bool DeleteOwned(const Owned &owned);

    QString folder;
    QString baseName;
    const OutputType *type = nullptr;
    QList<Owned> owned;
    QStringList names;    // every file the task has claimed, without folder
    QStringList lost;     // paths of files someone else wrote over, not yet told
    int runningPass = -1; // none
    qint64 passStartNs = 0;
    qint64 claimedNs = 0; // scratch files born since are the task's tools'
    QStringList scratchBefore;
};
