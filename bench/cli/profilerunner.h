// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the passes of a shipped profile for one source the way the batch does: the same
// profile catalog, the same expansion of the templates into arguments, the same program lookup
// (the app folder, then PATH), the app folder as the tools' folder, and the intermediates the
// output type deletes after a pass. Shared by the profile tests and the profile measurements;
// header-only on purpose.
#include "conversiontask.h"
#include "enginepaths.h"
#include "profiles/commandtemplate.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"
#include "run/passrunner.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

class ProfileRunner
{
public:
    struct Pass {
        QStringList arguments; // program first, as given in the template
        bool started = false;
        int exitCode = -1;
        QByteArray output; // standard output and error, merged
        qint64 milliseconds = 0;
    };

    // appFolder: a program folder's "app" folder.
    ProfileRunner(const QString &appFolder, int outputType)
        : paths(EnginePaths::ForProgramFolder(QFileInfo(appFolder).absolutePath())),
          type(*OutputType::Find(outputType)), listing(ProfileCatalog(paths).List(outputType))
    {}

    QString Description() const { return listing.description; }
    int DefaultProfile() const { return listing.defaultRow + 1; }
    int ProfileCount() const { return int(listing.titles.size()); }
    QString Title(int row) const { return listing.titles.value(row); }
    int PassCount() const { return type.PassCount(); }
    QString Extension() const { return type.Extension(); }
    bool Readable() const { return listing.readable; }

    std::optional<Profile> Load(int row) const
    {
        return ProfileCatalog(paths).Load(type.Index(), row);
    }
    // The pass templates of a profile, in order: as many as the output type has passes.
    QStringList Templates(int row) const
    {
        QStringList templates;
        if (const std::optional<Profile> profile = Load(row))
            for (int pass = 1; profile->HasPasses(pass) && pass <= type.PassCount(); ++pass)
                templates.append(profile->PassTemplate(pass));
        return templates;
    }

    static QString FinalPath(const QString &outputDir, const ConversionTask &task,
                             const QString &extension)
    {
        return outputDir + task.outputName + extension;
    }

    // Runs the passes in order and stops after the first that fails to start or exits
    // with an error. outputDir ends with a separator.
    QList<Pass> Run(int row, const ConversionTask &task, const QString &outputDir) const
    {
        QList<Pass> passes;
        const QStringList templates = Templates(row).mid(0, type.PassCount());
        for (int pass = 1; pass <= templates.size(); ++pass) {
            passes.append(RunOne(templates[pass - 1], task, outputDir));
            for (const TaskFile file : type.DeletedAfter(pass))
                QFile::remove(outputDir + type.FileName(file, task.outputName));
            if (!passes.last().started || passes.last().exitCode != 0)
                break;
        }
        return passes;
    }

private:
    Pass RunOne(const QString &commandTemplate, const ConversionTask &task,
                const QString &outputDir) const
    {
        Pass pass;
        pass.arguments = CommandTemplate::ExpandArguments(
            commandTemplate,
            CommandTemplate::Values::For(task, outputDir, QDateTime::currentDateTime()));
        QStringList arguments = pass.arguments;
        const QString program = PassRunner::ResolveProgram(arguments.takeFirst(), paths.appFolder);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(paths.appFolder);
        QElapsedTimer clock;
        clock.start();
        process.start(program, arguments);
        pass.started = process.waitForStarted(10000);
        if (pass.started) {
            process.waitForFinished(-1);
            pass.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        }
        pass.output = process.readAll();
        pass.milliseconds = clock.elapsed();
        return pass;
    }

    EnginePaths paths;
    OutputType type;
    ProfileCatalog::Listing listing;
};
