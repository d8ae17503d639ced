// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

class OutputType;
class TaskFiles;
struct ConversionTask;

// Names the tasks of a batch: the output base name is the source's, with " (2)", " (3)" ...
// added until every file of the task can be had. Planning shows the name a task will most
// likely get; claiming takes it for real, by creating the files (see TaskFiles), so that no
// other task of this batch, of another window or of another program can have it too. A name
// planned for another task of the batch is never claimed. Long names are shortened (their
// start kept) so that every file a task and its tools write fits the file system's limit.
class OutputNamePlanner
{
public:
    // folder ends with a separator.
    OutputNamePlanner(const QString &folder, const OutputType *type);

    // The name the task would get now; reserved for it against the batch's other tasks.
    QString Plan(int row, const ConversionTask &task);
    // Claims a name for the task: files is set to its files, taken. 0, or the errno that
    // stopped it (nothing then exists of it).
    int Claim(int row, const ConversionTask &task, TaskFiles &files);

    // The name a task would have had before a batch added a number: the outputName with a
    // " (n)" taken off where the source's own name had none. A task without a base name (a
    // source file without an extension) is named after the whole file name.
    static QString BaseName(const ConversionTask &task);
    // base, cut to fit maxBytes of UTF-8 together with " (n)" for n > 1.
    static QString Numbered(const QString &base, int n, int maxBytes);
    // The longest base name whose files and scratch files fit the folder's name limit.
    static int MaxBaseBytes(const QString &folder);

private:
    QString Candidate(const QString &base, int n) const;
    bool ReservedForOther(int row, const QString &name) const;
    bool FreeOnDisk(const QString &name) const;
    void Reserve(int row, const QString &name);

    QString folder;
    const OutputType *type;
    int maxBytes;
    QHash<QString, int> reserved; // case-folded file name -> row (folders may ignore case)
};
