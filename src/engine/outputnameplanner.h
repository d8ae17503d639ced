// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>

struct ConversionTask;

// Gives every task of a batch an output base name whose files (final, temporary and
// intermediate) neither exist yet in the output folder nor belong to another task of the
// batch: " (2)", " (3)", ... is appended to the base name until that holds. Since a task's
// source exists, no task's output can be its own source either. So the batch never
// overwrites, and never deletes, a file it did not create.
class OutputNamePlanner
{
public:
    // folder ends with a separator; outputType decides which files a task writes.
    OutputNamePlanner(const QString &folder, int outputType);

    // The name the task gets; its files are reserved against the later tasks of the batch.
    QString Claim(const ConversionTask &task);

    // The name a task would have had before a batch added a suffix: the outputName with a
    // " (n)" taken off where the source's own name had none. A task without a base name
    // (a source file without an extension) is named after the whole file name.
    static QString BaseName(const ConversionTask &task);

private:
    bool IsFree(const QString &fileName) const;

    QString folder;
    int outputType;
    QSet<QString> claimed; // case-folded: the output folder may not tell "A" from "a"
};
