// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The files one task of a batch writes into the output folder, named from the folder (ending
// with a separator) and the task's output base name, and the scratch files its tools may leave
// beside them when they are killed in the middle of a write.
class TaskFiles
{
public:
    TaskFiles() = default;
    TaskFiles(const QString &folder, const QString &baseName);

    QString FirstTemporary() const;       // "%s%s_temp.3gp": pass 1 writes it
    QString SecondTemporary() const;      // "%s%s_temp_2.3g2": passes 2 and 3 of output type 2
    QString Output(int outputType) const; // the finished file; empty for an unknown type

    // Every file this task writes for the output type, with its folder.
    QStringList Paths(int outputType) const;
    // The names (without folder) of every file a task with this base name writes for the
    // output type; empty for an unknown type.
    static QStringList NamesFor(const QString &baseName, int outputType);

    // Notes which scratch files exist now, so that only those appearing later are removed.
    void RememberScratch();
    // Removes the scratch files that appeared since RememberScratch: a tool that rewrites a
    // file in place through a temporary copy ("name-temp-12345.3gp", "name_temp_2-temp-12345.3g2")
    // or a hidden staging file
    // (".name.3gp.Ab12Cd") leaves it behind when it is killed.
    void RemoveNewScratch() const;
    // The scratch files that existed at RememberScratch (someone else's), and those since.
    QStringList KnownScratch() const { return scratchBefore; }
    void SetKnownScratch(const QStringList &names) { scratchBefore = names; }
    QStringList NewScratch() const;

    QString Folder() const { return folder; }
    QString BaseName() const { return baseName; }

    // Removes a file; true when it is gone. Failures are silent.
    static bool Remove(const QString &path);

private:
    QStringList ScratchNow() const;

    QString folder;
    QString baseName;
    QStringList scratchBefore;
};
