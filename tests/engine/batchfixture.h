// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Support for the batch tests: a program folder of their own (so that the log and the journals
// are theirs), an engine over a task list with a recording host, a wait for the batch's end,
// and stand-in profiles whose passes are our fake encoder, long enough to stop in any pass.
#include "conversionengine.h"
#include "enginepaths.h"
#include "outputtypes.h"
#include "recordinghost.h"
#include "tasklist.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTest>

namespace batchtest {

constexpr int FINISHED = RecordingHost::FINISHED;
const QString finishedText =
    QStringLiteral("                   Converting Finished                    ");

// Fills `folder` as a program folder: app/ holds links to the built profiles and tools, except
// the profile files named in `replacements`, which get the given text instead. The journals
// go into the folder too. Invalid paths when the folder could not be made.
inline EnginePaths MakeProgramFolder(const QString &folder,
                                     const QMap<QString, QString> &replacements = {})
{
    const QDir built(QStringLiteral(KESTRANI_PROGRAM_DIR "/app"));
    if (!QDir(folder).mkpath(QStringLiteral("app")))
        return {};
    const QString app = folder + QStringLiteral("/app/");
    for (const QString &name : built.entryList(QDir::Files)) {
        if (name == QLatin1String("log.txt") || replacements.contains(name) ||
            QFileInfo::exists(app + name))
            continue;
        if (!QFile::link(built.filePath(name), app + name))
            return {};
    }
    for (auto it = replacements.begin(); it != replacements.end(); ++it) {
        QFile::remove(app + it.key());
        QFile file(app + it.key());
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value().toUtf8()) < 0)
            return {};
    }
    EnginePaths paths = EnginePaths::ForProgramFolder(folder);
    paths.journalFolder = WithTrailingSeparator(folder + QStringLiteral("/journals"));
    return paths;
}

inline QString ReadLog(const EnginePaths &paths)
{
    QFile log(paths.logFile);
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// The log entry of one task: from its first line to the next entry.
inline QString TaskEntry(const QString &log, int row)
{
    const QString head = QStringLiteral("TASK        =   %1 (").arg(row + 1);
    const qsizetype start = log.lastIndexOf(head);
    if (start < 0)
        return QString();
    const qsizetype end = log.indexOf(QStringLiteral("\nERROR:"), start);
    return log.mid(start, end < 0 ? -1 : end - start);
}

// Points the system bus at an address where nothing listens: a batch that ends in a shutdown
// then meets a refusal, and no test ever asks the real machine to power off.
inline void KeepAwayFromTheSystemBus()
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrani-tests-have-no-bus");
}

// An engine over its own task list and recording host, converting into `outputDir`.
struct Batch {
    TaskList tasks;
    RecordingHost host{&tasks};
    ConversionEngine engine;

    Batch(const EnginePaths &paths, int outputType, const QString &outputDir)
        : engine(host, tasks, paths)
    {
        host.outputType = outputType;
        host.folderText = outputDir;
    }
    void Add(const QString &source, double seconds, double begin = 0.0)
    {
        ConversionTask task = ConversionTask::ForSource(source, seconds);
        task.beginSeconds = begin;
        tasks.Append(task);
    }
    // Starts the batch and waits for its end; false when it did not end in time.
    bool Run(int timeoutMs = 60000)
    {
        QSignalSpy ended(&engine, &ConversionEngine::batchEnded);
        engine.OnStartClicked();
        if (engine.IsConverting() && !ended.wait(timeoutMs))
            return false;
        return !engine.IsConverting();
    }
    int State(int row) const { return tasks.GetAt(row).state; }
    bool Finished(int row) const { return tasks.GetAt(row).finished == 1; }
    QString OutputName(int row) const
    {
        return tasks.GetAt(row).outputName + OutputType::Find(host.outputType)->Extension();
    }
    QString OutputOf(int row) const
    {
        return WithTrailingSeparator(host.folderText) + OutputName(row);
    }
};

// A profile of one entry whose passes are the fake encoder, each running about 0.4 s: pass 1
// prints progress and takes "q" (then creates `qFile`), the later passes print nothing. Each
// pass grows the file it writes in the real profile and names its pass in the process list; the
// later passes leave a scratch file as AtomicParsley does.
inline QString StandInProfile(int outputType, const QString &qFile)
{
    const OutputType *type = OutputType::Find(outputType);
    QString text = QStringLiteral("; SPDX-License-Identifier: GPL-3.0-or-later\n[Info]\n"
                                  "Description=stand-in\nDefaultProfile=1\n[P]\nTitle=stand-in\n");
    for (int pass = 1; pass <= type->PassCount(); ++pass) {
        QString line =
            QStringLiteral("Pass%1=" KESTRANI_TEST_BIN_DIR "/fake_encoder --tag pass%1 ").arg(pass);
        line += QStringLiteral("--frames 8 --interval 50 ");
        line += pass == 1
                    ? QStringLiteral("--q-file \"%1\"").arg(qFile)
                    : QStringLiteral("--silent --scratch \"$OUTPUT_DIR$OUTPUT_FILE-temp-54321%1\"")
                          .arg(type->Extension());
        for (TaskFile file : type->WrittenBy(pass))
            line += QStringLiteral(" --write \"$OUTPUT_DIR%1\"")
                        .arg(type->FileName(file, QStringLiteral("$OUTPUT_FILE")));
        text += line + QLatin1Char('\n');
    }
    return text;
}

// The pass (1 to 5) of each stand-in tool this test runs, in no order.
inline QList<int> StandInPasses()
{
    QList<int> passes;
    for (int pid : ChildProcesses()) {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray command = file.readAll().replace('\0', ' ');
        for (int pass = 1; pass <= 5; ++pass)
            if (command.contains("--tag pass" + QByteArray::number(pass) + ' '))
                passes.append(pass);
    }
    return passes;
}

inline QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace batchtest
