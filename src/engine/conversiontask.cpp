// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversiontask.h"

#include <QDir>

QString ConversionTask::OutputNameFromPath(const QString &path)
{
    // The native separator and '/' both end a folder name; on Windows both can occur.
    qsizetype b = path.lastIndexOf(QLatin1Char('/'));
    if (QDir::separator() != QLatin1Char('/'))
        b = qMax(b, path.lastIndexOf(QDir::separator()));
    const qsizetype d = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype count = d - b - 1;
    if (d < 0 || count <= 0)
        return QString();
    return path.mid(b + 1, count);
}

ConversionTask ConversionTask::ForSource(const QString &path, double clipLengthSeconds)
{
    ConversionTask task;
    task.sourcePath = path;
    task.outputName = OutputNameFromPath(path);
    task.title = task.outputName;
    task.beginSeconds = 0.0;
    task.endSeconds = clipLengthSeconds;
    return task;
}
