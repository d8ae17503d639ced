// SPDX-License-Identifier: GPL-3.0-or-later
#include "enginepaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

EnginePaths EnginePaths::ForProgramFolder(const QString &folder, QString *problem)
{
    EnginePaths paths;
    const QString program =
        WithTrailingSeparator(QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath()));
    const QString app = program + QStringLiteral("app");
    if (folder.isEmpty() || !QFileInfo(app).isDir()) {
        if (problem)
            *problem = QStringLiteral("the program's \"app\" folder (profiles and tools) is "
                                      "missing: looked for %1")
                           .arg(QDir::toNativeSeparators(app));
        return paths;
    }
    paths.programFolder = program;
    paths.appFolder = WithTrailingSeparator(app);
    paths.logFile = paths.appFolder + QStringLiteral("log.txt");
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!data.isEmpty()) {
        paths.fallbackLog =
            WithTrailingSeparator(QDir::toNativeSeparators(data)) + QStringLiteral("log.txt");
        paths.journalFolder =
            WithTrailingSeparator(QDir::toNativeSeparators(data)) + QStringLiteral("batches");
    }
    return paths;
}

EnginePaths EnginePaths::ForRunningProgram(QString *problem)
{
    return ForProgramFolder(QCoreApplication::applicationDirPath(), problem);
}

QString WithTrailingSeparator(const QString &folder)
{
    const QChar sep = QDir::separator();
    if (folder.endsWith(sep) || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + sep;
}
