// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the passes of a shipped profile for one source the way the batch does: the same
// profile reader, the same expansion of the templates into arguments, the same program
// lookup with the app folder current, and the intermediates deleted after passes 3 and 5.
// Shared by the profile tests and the profile measurements; header-only on purpose.
#include "commandtemplate.h"
#include "conversionengine.h"
#include "conversiontask.h"
#include "inireader.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

    ProfileRunner(const QString &appFolder, int outputType)
        : appFolder(appFolder), type(*ConversionEngine::OutputType(outputType))
    {
        reader.SetFile(QDir(appFolder).filePath(QString::fromLatin1(type.profileFile)));
        reader.GetSectionNames(sections);
    }

    QString Description() const { return reader.GetString("Info", "Description"); }
    int DefaultProfile() const { return reader.GetString("Info", "DefaultProfile").toInt(); }
    int ProfileCount() const { return int(sections.size()) - 1; }
    QString Title(int row) const { return reader.GetString(sections.value(row + 1), "Title"); }
    int PassCount() const { return type.passCount; }
    QString Extension() const { return QString::fromLatin1(type.extension); }
    QStringList Sections() const { return sections; }

    // The entries of a profile section after its first, in file order.
    QStringList Templates(int row) const
    {
        QStringList keys, values;
        reader.GetSection(sections.value(row + 1), keys, values);
        return values.mid(1);
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
        const QString previous = QDir::currentPath();
        QDir::setCurrent(appFolder);
        QList<Pass> passes;
        const QStringList templates = Templates(row).mid(0, type.passCount);
        for (int i = 0; i < templates.size(); ++i) {
            passes.append(RunOne(templates[i], task, outputDir));
            if (i == 2)
                QFile::remove(outputDir + task.outputName + "_temp.3gp");
            if (i == 4)
                QFile::remove(outputDir + task.outputName + "_temp_2.3g2");
            if (!passes.last().started || passes.last().exitCode != 0)
                break;
        }
        QDir::setCurrent(previous);
        return passes;
    }

private:
    static Pass RunOne(const QString &commandTemplate, const ConversionTask &task,
                       const QString &outputDir)
    {
        Pass pass;
        pass.arguments = CommandTemplate::ExpandArguments(
            commandTemplate,
            CommandTemplate::Values::For(task, outputDir, QDateTime::currentDateTime()));
        QStringList arguments = pass.arguments;
        const QString program = ConversionEngine::ResolveProgram(arguments.takeFirst());
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
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

    QString appFolder;
    OutputTypeInfo type;
    CIniReader reader;
    QStringList sections;
};
