// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/taskrun.h"

#include "enginehost.h"
#include "files/batchjournal.h"
#include "files/outputnameplanner.h"
#include "mediacheck/outputcheck.h"
#include "profiles/outputtypes.h"
#include "progress/errorlog.h"
#include "progress/progressfields.h"
#include "progress/progresstext.h"
#include "progress/toolmessage.h"
#include "run/amrrepack.h"
#include "run/passrunner.h"
#include "tasklist.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

quint32 TickCount()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString OutputFolderProblem(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("the output folder %1 no longer exists").arg(folder);
    QTemporaryFile probe(folder + QStringLiteral(".kestrani-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("the output folder %1 cannot be written any more: %2")
            .arg(folder, probe.errorString());
    return QString();
}

// What tells that the source is still the file the first pass began to read.
FileIdentity SourceStampOf(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return FileIdentity::Of(target.isEmpty() ? path : target);
}

bool SameSource(const FileIdentity &a, const FileIdentity &b)
{
    return a.SameFile(b) && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

CommandTemplate::Values ValuesFor(const QString &outputFolder, const ConversionTask &task,
                                  const SourceInfo &source)
{
    CommandTemplate::Values values =
        CommandTemplate::Values::For(task, outputFolder, QDateTime::currentDateTime());
    values.TakeSource(source);
    return values;
}

QStringList Resolved(QStringList arguments, const EnginePaths &paths)
{
    if (!arguments.isEmpty())
        arguments[0] = PassRunner::ResolveProgram(arguments.at(0), paths.appFolder);
    return arguments;
}

} // namespace

TaskRun::TaskRun(BatchContext &context, int row, QObject *parent)
    : QObject(parent), context(context), row(row)
{}

TaskRun::~TaskRun()
{
    if (!running)
        return;
    delete runner; // kills the tool and its group, and waits for it
    files.EndPass();
    files.DeleteAll();
    context.journal.EndTask(row);
}

QList<QStringList> TaskRun::Commands(const EnginePaths &paths, const OutputType *type,
                                     int profileRow, const QString &outputFolder,
                                     const ConversionTask &task)
{
    QList<QStringList> commands;
    if (!type)
        return commands;
    const std::optional<Profile> profile = ProfileCatalog(paths).Load(type->Index(), profileRow);
    if (!profile || !profile->HasPasses(type->PassCount()))
        return commands;
    SourceInfo source = SourceProbe::Probe(task.sourcePath);
    ConversionTask read = task;
    if (source.multiFrameAmr && source.audioIndex >= 0) { // as Start runs them: repack first
        const QString sound = outputFolder + type->FileName(TaskFile::SoundCopy, task.outputName);
        const QString copy = outputFolder + type->FileName(TaskFile::SourceCopy, task.outputName);
        for (int step = 1; step <= AmrRepack::stepCount; ++step)
            commands.append(Resolved(
                AmrRepack::StepArguments(step, task.sourcePath, source.audioIndex, sound, copy),
                paths));
        read.sourcePath = copy;
        source.audioIndex = 0;
    }
    const CommandTemplate::Values values = ValuesFor(outputFolder, read, source);
    for (int pass = 1; pass <= type->PassCount(); ++pass)
        commands.append(
            Resolved(CommandTemplate::ExpandArguments(profile->PassTemplate(pass), values), paths));
    return commands;
}

QString TaskRun::StartProblem(ConversionTask &task)
{
    const std::optional<Profile> loaded =
        context.type ? ProfileCatalog(context.paths).Load(context.type->Index(), context.profileRow)
                     : std::nullopt;
    if (!loaded || !loaded->HasPasses(context.type->PassCount()))
        return QStringLiteral("no usable profile: none is selected, or the selected one has "
                              "fewer entries than the passes need");
    profile = *loaded;
    if (!(task.endSeconds - task.beginSeconds > 0.0))
        return QStringLiteral("nothing to convert: the clip length is 0 (the file could not "
                              "be read, or begin and end are equal)");
    source = SourceProbe::Probe(task.sourcePath);
    if (!source.problem.isEmpty())
        return QStringLiteral("the source %1").arg(source.problem);
    if (const QString problem = OutputFolderProblem(context.outputFolder); !problem.isEmpty())
        return problem;
    if (const int error = context.names.Claim(row, task, files); error != 0)
        return QStringLiteral("no name for the output could be had in %1: %2")
            .arg(context.outputFolder, QString::fromLocal8Bit(std::strerror(error)));
    return QString();
}

void TaskRun::Start()
{
    if (running || !context.tasks.IsValidIndex(row))
        return;
    running = true;
    startTick = TickCount();
    ConversionTask task = context.tasks.GetAt(row);
    if (const QString problem = StartProblem(task); !problem.isEmpty()) {
        Fail(0, problem);
        return;
    }
    if (task.outputName != files.BaseName()) {
        task.outputName = files.BaseName(); // another program took the planned name meanwhile
        context.tasks.SetAt(row, task);
        context.host.InvalidateCells(row, row, COL_OUTPUT, false);
    }
    if (source.audioIndex < 0 && source.hasAudioStreams)
        context.log.Append(QStringLiteral("NOTE:    TASK        =   %1 (%2).\n"
                                          "       the source's sound cannot be read; the "
                                          "picture is converted without it.\n")
                               .arg(row + 1)
                               .arg(task.sourcePath));
    context.journal.SetTask(row, files.ToJson());
    sourceStamp = SourceStampOf(task.sourcePath);
    if (source.multiFrameAmr && source.audioIndex >= 0) {
        for (TaskFile copy : {TaskFile::SoundCopy, TaskFile::SourceCopy})
            if (const int error = files.ClaimExtra(copy); error != 0) {
                Fail(0, QStringLiteral("the source's sound must be repacked, but %1 cannot be "
                                       "made: %2")
                            .arg(files.Path(copy), QString::fromLocal8Bit(std::strerror(error))));
                return;
            }
        RunPass(0);
        return;
    }
    RunPass(1);
}

void TaskRun::Stop()
{
    if (!running || cancelled)
        return;
    cancelled = true;
    if (runner && runner->IsRunning())
        runner->RequestStop();
}

void TaskRun::RunPass(int next)
{
    pass = next;
    ConversionTask task = context.tasks.GetAt(row);
    QStringList arguments;
    if (pass == 0) { // the source's sound repacked first, step by step
        ++repackStep;
        arguments = AmrRepack::StepArguments(repackStep, task.sourcePath, source.audioIndex,
                                             files.Path(TaskFile::SoundCopy),
                                             files.Path(TaskFile::SourceCopy));
        command = arguments.join(u' ');
        arguments = Resolved(arguments, context.paths);
    } else {
        if (repackStep > 0)
            task.sourcePath = files.Path(TaskFile::SourceCopy); // reads whole, same times
        const CommandTemplate::Values values = ValuesFor(context.outputFolder, task, source);
        const QString commandTemplate = profile.PassTemplate(pass);
        command = CommandTemplate::ExpandText(commandTemplate, values);
        arguments =
            Resolved(CommandTemplate::ExpandArguments(commandTemplate, values), context.paths);
    }
    if (const int state = context.type->StateBeforePass(qMax(pass, 1)); state >= 0)
        SetState(state);
    if (cancelled) { // a Stop while the row repainted
        EndCancelled();
        return;
    }
    files.BeginPass(pass);
    context.journal.SetTask(row, files.ToJson());
    auto *tool =
        new PassRunner(pass == 1 ? PassRunner::Mode::Piped : PassRunner::Mode::Quiet, this);
    runner = tool;
    connect(tool, &PassRunner::started, this,
            [this](qint64 pid) { context.journal.AddToolGroup(row, pid); });
    connect(tool, &PassRunner::output, this, &TaskRun::ParseProgress);
    connect(tool, &PassRunner::ended, this, &TaskRun::OnPassEnded);
    tool->SetStallLimit(context.stallSeconds, [this] { return FilesProgress(); });
    tool->SetWorkingDirectory(context.paths.appFolder);
    tool->SetDiskFolder(context.outputFolder);
    previousChunkEnd = '\n';
    tool->Start(arguments);
}

qint64 TaskRun::FilesProgress() const
{
    qint64 total = 0;
    for (const QString &path : files.Paths())
        total += qMax<qint64>(0, FileIdentity::Of(path).size);
    for (const QString &name : TaskFiles::ScratchIn(files.Folder(), files.BaseName()))
        total += qMax<qint64>(0, FileIdentity::Of(files.Folder() + name).size);
    return total;
}

void TaskRun::ParseProgress(const QByteArray &chunk)
{
    const quint32 now = TickCount();
    ConversionTask task = context.tasks.GetAt(row);
    const ProgressFields fields = ProgressFields::Read(chunk, previousChunkEnd);
    if (!chunk.isEmpty())
        previousChunkEnd = chunk.back();
    fields.TakeInto(task, now - startTick);
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
}

void TaskRun::OnPassEnded(const RunResult &result)
{
    if (runner)
        runner->deleteLater();
    runner = nullptr;
    files.EndPass();
    if (!result.started && pass == 1)
        context.log.LogApiError(QStringLiteral("CreateProcess"),
                                result.program.isEmpty() ? ENOENT : EACCES, result.errorText);
    if (cancelled) {
        EndCancelled();
        return;
    }
    if (!result.Succeeded()) {
        Fail(pass, ToolMessage::Status(result), command, result.lastLines,
             ToolMessage::Reason(result, ToolMessage::Status(result)));
        return;
    }
    if (const QString line = ToolMessage::WriteErrorLine(result.lastLines); !line.isEmpty()) {
        Fail(pass, QStringLiteral("the tool could not write its file: %1").arg(line), command,
             result.lastLines, ToolMessage::Reason(result, line));
        return;
    }
    if (pass == 1 && ToolMessage::EncodedNoPicture(result.lastLines)) {
        Fail(pass, QStringLiteral("the first pass encoded no picture"), command, result.lastLines,
             QStringLiteral("no picture could be read from the source in the part to convert"));
        return;
    }
    // A source cut short or replaced while it was read gives an output that looks whole but is
    // not the file the user chose; a removed one may be read to its end, yet the user took it
    // away mid-conversion.
    if (pass == 1 && !SameSource(SourceStampOf(context.tasks.GetAt(row).sourcePath), sourceStamp)) {
        Fail(pass,
             QStringLiteral("the source file was removed, truncated or replaced while it "
                            "was converted"),
             command, result.lastLines);
        return;
    }
    for (TaskFile file : context.type->DeletedAfter(pass))
        files.Delete(file);
    context.journal.SetTask(row, files.ToJson());
    if (pass == 0 && repackStep < AmrRepack::stepCount) {
        RunPass(0);
    } else if (pass == 0) {
        source.audioIndex = 0; // the copy holds the picture and that sound alone
        RunPass(1);
    } else if (pass < context.type->PassCount()) {
        RunPass(pass + 1);
    } else {
        Complete();
    }
}

void TaskRun::Complete()
{
    const ConversionTask task = context.tasks.GetAt(row);
    const QString output = files.Path(TaskFile::Output);
    const QFileInfo info(output);
    if (!info.isFile() || info.size() <= 0) {
        Fail(context.type->PassCount(),
             QStringLiteral("every tool succeeded, but the output file %1 is missing or empty")
                 .arg(output));
        return;
    }
    OutputExpectation expected;
    expected.brands = context.type->Brands();
    expected.ReadCheckEntry(profile.keys, profile.values);
    // The picture lasts the trim, or up to the source's picture's end where that comes first
    // (the container, and so the clip length, may include a longer sound); likewise the sound.
    const auto partUpTo = [&task](double end) {
        return (end > 0 ? std::min(end, task.endSeconds) : task.endSeconds) - task.beginSeconds;
    };
    expected.durationSeconds = partUpTo(source.pictureEndSeconds);
    expected.expectSound = source.audioIndex >= 0;
    expected.soundSeconds = partUpTo(source.soundEndSeconds);
    if (const QString problem = OutputCheck::Verify(output, expected); !problem.isEmpty()) {
        Fail(context.type->PassCount(),
             QStringLiteral("the finished file is not what the profile makes: %1").arg(problem),
             QString(), QStringList(), QStringLiteral("the result is not right: %1").arg(problem));
        return;
    }
    files.Release(TaskFile::Output);
    Finish(true);
}

void TaskRun::SetState(int state)
{
    ConversionTask task = context.tasks.GetAt(row);
    task.state = state;
    context.tasks.SetAt(row, task);
    context.host.InvalidateCells(row, row, COL_PROGRESS, false);
}

void TaskRun::Fail(int failedPass, const QString &status, const QString &failedCommand,
                   const QStringList &lastLines, const QString &reason)
{
    if (runner) {
        runner->disconnect(this);
        delete runner; // a tool still running is killed first: its files go next
    }
    // A full disk shows in many ways (a tool's own words, a file cut short, no words at all):
    // whatever went wrong, it is said.
    const QString full = QString::fromLocal8Bit(std::strerror(ENOSPC));
    const bool diskFull =
        failedPass > 0 && PassRunner::FreeBytes(context.outputFolder) < PassRunner::fullDiskBytes;
    const QString why =
        diskFull && !status.contains(full)
            ? QStringLiteral("%1 (%2: the output folder's disk is full)").arg(status, full)
            : status;
    CleanUp();
    const ConversionTask task = context.tasks.GetAt(row);
    context.log.Append(ErrorLog::FormatTaskFailure(row, task.sourcePath, failedPass, why,
                                                   failedCommand, lastLines));
    SetState(TASK_FAILED);
    QString told = reason.isEmpty() ? why : reason;
    if (diskFull && !told.contains(QLatin1String("disk is full")))
        told += QStringLiteral(" (the disk is full)");
    context.host.ReportTaskFailure(row, told);
    Finish(false);
}

void TaskRun::EndCancelled()
{
    CleanUp();
    SetState(TASK_CANCELED);
    Finish(false);
}

void TaskRun::CleanUp()
{
    // Whatever the task's tools left is unfinished: it must not look like a converted file.
    const QStringList left = files.DeleteAll();
    if (left.isEmpty())
        return;
    QString entry = QStringLiteral("ERROR:   TASK        =   %1 (%2).\n")
                        .arg(row + 1)
                        .arg(context.tasks.GetAt(row).sourcePath);
    for (const QString &path : left)
        entry += QStringLiteral("       not removed     =   %1 (the next batch tries again)\n")
                     .arg(path);
    context.log.Append(entry);
}

void TaskRun::Finish(bool finished)
{
    running = false;
    if (finished) {
        ConversionTask task = context.tasks.GetAt(row);
        task.finished = 1;
        context.tasks.SetAt(row, task);
        context.host.InvalidateCells(row, row, COL_PROGRESS, false);
    }
    // Files that could not be deleted stay journaled for the next batch to try again.
    if (files.OwnsNothing())
        context.journal.EndTask(row);
    else
        context.journal.SetTask(row, files.ToJson());
    emit ended(row, finished);
}
