// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The engine as the tests drive it: a program folder of the test's own (its log and journals
// are the test's), a host that records what the engine asked it to show, a batch over its own
// task list, the command-line program's path, and stand-in profiles whose passes are our fake
// encoder, slow enough to stop in any pass.

#include "support.h"

#include "conversionengine.h"
#include "enginehost.h"
#include "enginepaths.h"
#include "profiles/outputtypes.h"
#include "progress/progresstext.h"
#include "tasklist.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace support {

const QString finishedText =
    QStringLiteral("                   Converting Finished                    ");
const QString cliProgram = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");
const QString builtApp = QStringLiteral(KESTRANI_PROGRAM_DIR "/app/");

// Answers the output settings it is given and records what the engine asked it to show. Given
// the task list, it records every state each row's Progress cell went through (a finished task
// as FINISHED): how a test tells which pass runs.
class RecordingHost : public EngineHost
{
public:
    struct Message {
        QString text, caption;
        MessageIcon icon;
    };
    static constexpr int FINISHED = 100;

    explicit RecordingHost(const TaskList *tasks = nullptr) : tasks(tasks) {}

    int outputType = 0;
    int profileRow = 0;
    QString folderText;
    bool shutdownTicked = false;
    QString description;
    QStringList rows;
    QList<Message> messages;
    QList<bool> buttons;                     // ShowConvertingButtons arguments, in order
    QMap<int, int> repaints;                 // cell repaints asked for, per column
    QMap<int, QString> failures;             // ReportTaskFailure reasons per row
    QMap<int, QList<int>> states;            // per row: every state (or FINISHED) its cell showed
    std::function<void(int row)> onProgress; // after a row's Progress cell was recorded

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return folderText; }
    bool ShutdownAfterBatch() const override { return shutdownTicked; }
    void InvalidateCells(int firstRow, int lastRow, int column, bool) override
    {
        ++repaints[column];
        if (column != COL_PROGRESS || !tasks)
            return;
        for (int row = firstRow; row <= lastRow && tasks->IsValidIndex(row); ++row) {
            const ConversionTask task = tasks->GetAt(row);
            const int shown = task.finished == 1 ? FINISHED : task.state;
            QList<int> &seen = states[row];
            if (seen.isEmpty() || seen.last() != shown)
                seen.append(shown);
            if (onProgress)
                onProgress(row);
        }
    }
    void SetProfileDescription(const QString &text) override { description = text; }
    void ResetProfileList() override { rows.clear(); }
    void AddProfileRow(const QString &title) override { rows.append(title); }
    void SetProfileSelection(int row) override { profileRow = row; }
    void ShowConvertingButtons(bool converting) override { buttons.append(converting); }
    void EnableOutputSettings(bool) override {}
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override
    {
        messages.append({text, caption, icon});
    }
    void StopPreview() override {}
    void ReportTaskFailure(int row, const QString &reason) override { failures[row] = reason; }

private:
    const TaskList *tasks;
};

// Fills `folder` as a program folder: app/ holds links to the built profiles and tools, except
// the files named in `replacements`, which get the given text instead. The journals go into
// the folder too. Invalid paths when the folder could not be made.
inline EnginePaths MakeProgramFolder(const QString &folder,
                                     const QMap<QString, QString> &replacements = {})
{
    const QDir built(builtApp);
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
        if (!WriteFile(app + it.key(), it.value().toUtf8()))
            return {};
    }
    EnginePaths paths = EnginePaths::ForProgramFolder(folder);
    paths.journalFolder = WithTrailingSeparator(folder + QStringLiteral("/journals"));
    return paths;
}

// The log entry of one task (row from 0): from its first line to the next entry.
inline QString TaskEntry(const EnginePaths &paths, int row)
{
    const QString log = QString::fromUtf8(Contents(paths.logFile));
    const qsizetype start = log.lastIndexOf(QStringLiteral("TASK        =   %1 (").arg(row + 1));
    if (start < 0)
        return QString();
    const qsizetype end = log.indexOf(QStringLiteral("\nERROR:"), start);
    return log.mid(start, end < 0 ? -1 : end - start);
}

// Points the system bus at an address where nothing listens: a batch that ends in a shutdown
// meets a refusal, and no test ever asks the real machine to power off.
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
    QString OutputOf(int row) const
    {
        return WithTrailingSeparator(host.folderText) + tasks.GetAt(row).outputName +
               OutputType::Find(host.outputType)->Extension();
    }
};

// A profile file of one entry whose passes are the fake encoder, each about 0.4 s: pass 1
// prints progress and takes "q" (then creates `qFile`), the later passes print nothing. Each
// pass grows the file it writes in the real profile and names its pass on its command line;
// the later passes leave a scratch file as AtomicParsley does.
inline QString StandInProfile(int outputType, const QString &qFile)
{
    const OutputType *type = OutputType::Find(outputType);
    QString text = QStringLiteral("; SPDX-License-Identifier: GPL-3.0-or-later\n[Info]\n"
                                  "Description=stand-in\nDefaultProfile=1\n[P]\nTitle=stand-in\n");
    for (int pass = 1; pass <= type->PassCount(); ++pass) {
        QString line = QStringLiteral("Pass%1=" KESTRANI_TEST_BIN_DIR
                                      "/fake_encoder --tag pass%1 --frames 8 --interval 50 ")
                           .arg(pass);
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
        const QByteArray command =
            Contents(QStringLiteral("/proc/%1/cmdline").arg(pid)).replace('\0', ' ');
        for (int pass = 1; pass <= 5; ++pass)
            if (command.contains("--tag pass" + QByteArray::number(pass) + ' '))
                passes.append(pass);
    }
    return passes;
}

} // namespace support
