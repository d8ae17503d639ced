// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputnameplanner.h"

#include "conversiontask.h"
#include "taskfiles.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

OutputNamePlanner::OutputNamePlanner(const QString &folder, int outputType)
    : folder(folder), outputType(outputType)
{}

QString OutputNamePlanner::BaseName(const ConversionTask &task)
{
    const QString fromSource = ConversionTask::OutputNameFromPath(task.sourcePath);
    QString name = task.outputName;
    if (!fromSource.isEmpty() && name.startsWith(fromSource)) {
        static const QRegularExpression suffix(QStringLiteral("^ \\([2-9]\\d*\\)$|^ \\(1\\d+\\)$"));
        if (suffix.match(QStringView(name).mid(fromSource.size())).hasMatch())
            name = fromSource;
    }
    if (name.isEmpty())
        name = QFileInfo(task.sourcePath).fileName();
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name;
}

QString OutputNamePlanner::Claim(const ConversionTask &task)
{
    const QString base = BaseName(task);
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base : QStringLiteral("%1 (%2)").arg(base).arg(n);
        const QStringList files = TaskFiles::NamesFor(name, outputType);
        if (!std::all_of(files.begin(), files.end(),
                         [this](const QString &f) { return IsFree(f); }))
            continue;
        for (const QString &f : files)
            claimed.insert(f.toCaseFolded());
        return name;
    }
}

bool OutputNamePlanner::IsFree(const QString &fileName) const
{
    if (claimed.contains(fileName.toCaseFolded()))
        return false;
    // A dangling symbolic link counts as taken: a tool writing there would create its target.
    const QFileInfo info(folder + fileName);
    return !info.exists() && !info.isSymLink();
}
