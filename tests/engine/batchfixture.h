// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Support for the batch tests: a program folder of their own (so that "log.txt" is theirs),
// a host that records what the batch did to the controls and the states each task went
// through, and the tool processes still alive. Header-only test support.
#include "conversionengine.h"
#include "enginehost.h"
#include "globals.h"
#include "taskcell.h"
#include "tasklist.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <unistd.h>

namespace batchtest {

// The state list records a finished task as this pseudo-state.
constexpr int FINISHED = 100;

// Fills `folder` as a program folder: app/ holds links to the built profiles and tools, except
// the profile files named in `replacements`, which get the given text instead.
inline bool MakeProgramFolder(const QString &folder,
                              const QMap<QString, QString> &replacements = {})
{
    const QDir built(QStringLiteral(KESTRANI_PROGRAM_DIR "/app"));
    if (!QDir(folder).mkpath(QStringLiteral("app")))
        return false;
    const QString app = folder + QStringLiteral("/app/");
    for (const QString &name : built.entryList(QDir::Files)) {
        if (name == QLatin1String("log.txt") || replacements.contains(name))
            continue;
        if (!QFile::link(built.filePath(name), app + name))
            return false;
    }
    for (auto it = replacements.begin(); it != replacements.end(); ++it) {
        QFile file(app + it.key());
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value().toUtf8()) < 0)
            return false;
    }
    programFolder = WithTrailingSeparator(folder);
    return true;
}

inline QString ReadLog()
{
    QFile log(AppFolder() + QStringLiteral("/log.txt"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// Points the system bus at an address where nothing listens: a batch that ends in a shutdown
// then meets a refusal, and no test ever asks the real machine to power off.
inline void KeepAwayFromTheSystemBus()
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrani-tests-have-no-bus");
}

// A host that answers the output settings it is given and records the batch's effects.
class BatchHost : public EngineHost
{
public:
    struct Message {
        QString text, caption;
        MessageIcon icon;
    };

    explicit BatchHost(const TaskList &tasks) : tasks(tasks) {}

    int outputType = 0;
    int profileRow = 0;
    QString folderText;
    bool shutdownTicked = false;
    QList<Message> messages;
    QList<bool> buttons;  // ShowConvertingButtons arguments, in order
    QList<bool> settings; // EnableOutputSettings arguments, in order
    int previewStops = 0;
    int outputRepaints = 0;
    QMap<int, QList<int>> states; // per row: every state (or FINISHED) the row showed
    std::function<void()> onPump; // runs inside PumpMessages, like a nested handler

    int SelectedOutputType() const override { return outputType; }
    int SelectedProfileRow() const override { return profileRow; }
    QString OutputDirectoryText() const override { return folderText; }
    bool ShutdownAfterBatch() const override { return shutdownTicked; }
    void InvalidateCells(int firstRow, int lastRow, int column, bool) override
    {
        if (column == COL_OUTPUT)
            ++outputRepaints;
        if (column != COL_PROGRESS)
            return;
        for (int row = firstRow; row <= lastRow && tasks.IsValidIndex(row); ++row) {
            const ConversionTask task = tasks.GetAt(row);
            const int shown = task.finished == 1 ? FINISHED : task.state;
            QList<int> &seen = states[row];
            if (seen.isEmpty() || seen.last() != shown)
                seen.append(shown);
        }
    }
    void PumpMessages() override
    {
        EngineHost::PumpMessages();
        if (onPump)
            onPump();
    }
    void SetProfileDescription(const QString &) override {}
    void ResetProfileList() override {}
    void AddProfileRow(const QString &) override {}
    void SetProfileSelection(int row) override { profileRow = row; }
    void ShowConvertingButtons(bool converting) override { buttons.append(converting); }
    void EnableOutputSettings(bool enable) override { settings.append(enable); }
    void ShowMessage(const QString &text, const QString &caption, MessageIcon icon) override
    {
        messages.append({text, caption, icon});
    }
    void StopPreview() override { ++previewStops; }

private:
    const TaskList &tasks;
};

// An engine over its own task list and recording host, converting into `outputDir`.
struct Batch {
    TaskList tasks;
    BatchHost host{tasks};
    ConversionEngine engine{host, tasks};

    Batch(int outputType, const QString &outputDir)
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
    void UseDefaultProfile() { engine.LoadProfiles(host.outputType); }
    QString OutputOf(int row) const
    {
        return WithTrailingSeparator(host.folderText) + tasks.GetAt(row).outputName +
               QString::fromLatin1(ConversionEngine::OutputType(host.outputType)->extension);
    }
};

inline bool MakeClip(const QString &path, double seconds, const QString &size = "160x120",
                     bool withAudio = true)
{
    QStringList arguments{
        "-v", "error", "-nostdin", "-y",
        "-f", "lavfi", "-i",       QStringLiteral("testsrc2=size=%1:rate=15").arg(size)};
    if (withAudio)
        arguments << "-f"
                  << "lavfi"
                  << "-i"
                  << "sine=frequency=440:sample_rate=44100";
    arguments << "-t" << QString::number(seconds) << "-c:v"
              << "mpeg4"
              << "-q:v"
              << "5";
    if (withAudio)
        arguments << "-c:a"
                  << "aac";
    arguments << "file:" + path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace batchtest
