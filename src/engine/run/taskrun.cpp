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
#include "run/partgroup.h"
#include "run/passarguments.h"
#include "run/passrunner.h"
#include "tasklist.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

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

// What tells that the source is still the file the first pass began to read (through a
// link, the file it names: a path's canonical form would lose a name that is not UTF-8).
FileIdentity SourceStampOf(const QString &path)
{
    return FileIdentity::OfTarget(path);
}

QString WrittenOver(const QStringList &paths)
{
    return QStringLiteral("%1 was written over or removed by someone else during the "
                          "conversion; it is left as it is")
        .arg(paths.join(QStringLiteral(", ")));
}

bool SameSource(const FileIdentity &a, const FileIdentity &b)
{
    return a.SameFile(b) && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

} // namespace

TaskRun::TaskRun(BatchContext &context, int row, QObject *parent)
    : QObject(parent), context(context), row(row), key(row)
{}

TaskRun::~TaskRun()
{
    if (!running)
        return;
    delete runner; // kills the tool and its group, and waits for it
    if (checker) { // asked to stop, it ends within a packet
        checker->requestInterruption();
        checker->wait();
    }
    files.EndPass();
    files.DeleteAll();
    context.journal.EndTask(key);
}

QString TaskRun::StartProblem(ConversionTask &task)
{
    QString unusable;
    const std::optional<Profile> loaded =
        context.type ? ProfileCatalog(context.paths)
                           .Load(context.type->Index(), context.profileRow, &unusable)
                     : std::nullopt;
    if (!unusable.isEmpty())
        return unusable;
    if (!loaded || !loaded->HasPasses(context.type->PassCount()))
        return QStringLiteral("no usable profile: none is selected, or the selected one has "
                              "fewer entries than the passes need");
    profile = *loaded;
    // The probe first: a file that cannot be read has no length either, and the probe says why.
    source = SourceProbe::Probe(task.sourcePath);
    if (!source.problem.isEmpty())
        return QStringLiteral("the source %1").arg(source.problem);
    if (!(task.endSeconds - task.beginSeconds > 0.0))
        return QStringLiteral("nothing to convert: the clip length is 0 (the file could not "
                              "be read, or begin and end are equal)");
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
    ConversionTask task = Task();
    if (const QString problem = StartProblem(task); !problem.isEmpty()) {
        Fail(0, problem);
        return;
    }
    // Another program took the planned name meanwhile; a task in parts shows its first's.
    if (group ? part.number == 1 : task.outputName != files.BaseName()) {
        ConversionTask shown = context.tasks.GetAt(row);
        shown.outputName = files.BaseName();
        context.tasks.SetAt(row, shown);
        context.host.InvalidateCells(row, row, COL_OUTPUT, false);
    }
    if (source.audioIndex < 0 && source.hasAudioStreams)
        context.log.Append(QStringLiteral("NOTE:    TASK        =   %1 (%2).\n"
                                          "       the source's sound cannot be read; the "
                                          "picture is converted without it.\n")
                               .arg(row + 1)
                               .arg(task.sourcePath));
    context.journal.SetTask(key, files.ToJson());
    sourceStamp = SourceStampOf(task.sourcePath);
    if (source.multiFrameAmr && source.audioIndex >= 0) {
        for (TaskFile copy : {TaskFile::SoundCopy, TaskFile::SourceCopy})
            if (const int error = files.ClaimExtra(copy); error != 0) {
                Fail(0, QStringLiteral("the source's sound must be repacked, but %1 cannot be "
                                       "made: %2")
                            .arg(files.Path(copy), QString::fromLocal8Bit(std::strerror(error))));
                return;
            }
        repacked = true;
        for (int step = 1; step <= AmrRepack::stepCount; ++step)
            steps.append({-1, TaskAddOn::Stage::BeforePasses, step - 1,
                          AmrRepack::StepArguments(step, task.sourcePath, source.audioIndex,
                                                   files.Path(TaskFile::SoundCopy),
                                                   files.Path(TaskFile::SourceCopy))});
        source.audioIndex = 0; // the copy holds the picture and that sound alone
    }
    if (const QString problem = PrepareAddOns(task); !problem.isEmpty()) {
        Fail(0, problem);
        return;
    }
    context.journal.SetTask(key, files.ToJson());
    QueueAddOnSteps(TaskAddOn::Stage::BeforePasses);
    RunNextStep();
}

void TaskRun::Stop()
{
    if (!running || cancelled)
        return;
    cancelled = true;
    if (runner && runner->IsRunning())
        runner->RequestStop();
    if (checker)
        checker->requestInterruption();
}

void TaskRun::RunPass(int next)
{
    pass = next;
    ConversionTask task = Task();
    QStringList arguments;
    if (pass == 0) { // a step of the task's own
        arguments = steps.constFirst().arguments;
        command = arguments.join(u' ');
    } else {
        if (repacked)
            task.sourcePath = files.Path(TaskFile::SourceCopy); // reads whole, same times
        const CommandTemplate::Values values =
            PassArguments::ValuesFor(context.outputFolder, task, source);
        arguments = CommandTemplate::ExpandArguments(profile.PassTemplate(pass), values);
        for (const auto &addOn : addOns)
            addOn->EditPass(pass, arguments);
        command = arguments.join(u' ');
    }
    tool = arguments.value(0);
    arguments = PassArguments::Resolved(arguments, context.paths);
    // A step after the passes leaves the state as it is; one before them is part of pass 1.
    const bool afterPasses = pass == 0 && steps.constFirst().stage == TaskAddOn::Stage::AfterPasses;
    if (const int state = context.type->StateBeforePass(qMax(pass, 1)); state >= 0 && !afterPasses)
        SetState(state);
    if (cancelled) { // a Stop while the row repainted
        EndCancelled();
        return;
    }
    // The repack steps write the source's copies; an add-on's steps only its scratch files.
    const bool addOnStep = pass == 0 && steps.constFirst().addOn >= 0;
    if (!files.BeginPass(addOnStep ? context.type->StepPass() : pass)) {
        // The pass would write over someone else's file: it never runs.
        Fail(pass, WrittenOver(files.TakeLost()));
        return;
    }
    context.journal.SetTask(key, files.ToJson());
    // An add-on's step is read whole when it ends; the repack steps say nothing of use.
    auto *tool = new PassRunner(
        pass == 1 || addOnStep ? PassRunner::Mode::Piped : PassRunner::Mode::Quiet, this);
    runner = tool;
    stepOutput.clear();
    auto pid = std::make_shared<qint64>(0);
    connect(tool, &PassRunner::started, this, [this, pid](qint64 started) {
        *pid = started;
        context.journal.AddToolGroup(key, started);
    });
    connect(tool, &PassRunner::ended, this, [this, pid] { context.journal.ToolEnded(*pid); });
    if (addOnStep)
        connect(tool, &PassRunner::output, this, [this, afterPasses](const QByteArray &chunk) {
            constexpr qsizetype kept = 256 * 1024;
            stepOutput += chunk;
            if (stepOutput.size() > 2 * kept)
                stepOutput.remove(0, stepOutput.size() - kept);
            if (!afterPasses) // a step before the passes shows its progress as pass 1 would
                ParseProgress(chunk);
        });
    else
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
    for (const QString &name : files.Scratch())
        total += qMax<qint64>(0, FileIdentity::Of(files.Folder() + name).size);
    return total;
}

void TaskRun::ParseProgress(const QByteArray &chunk)
{
    const quint32 now = TickCount();
    const ProgressFields fields = ProgressFields::Read(chunk, previousChunkEnd);
    if (!chunk.isEmpty())
        previousChunkEnd = chunk.back();
    ConversionTask task;
    task.encodedSeconds = encodedSeconds;
    task.sizeKB = sizeKB;
    task.framesPerSecond = framesPerSecond;
    fields.TakeInto(task, now - startTick);
    encodedSeconds = task.encodedSeconds;
    sizeKB = task.sizeKB;
    framesPerSecond = task.framesPerSecond;
    ShowProgress();
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
    if (!result.started && result.program.isEmpty()) { // found neither in app/ nor on PATH
        Fail(pass, ToolMessage::Status(result), command, result.lastLines,
             ToolMessage::NotFound(tool));
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
    if (pass == 0) {
        OnStepEnded(steps.constFirst());
        return;
    }
    for (TaskFile file : context.type->DeletedAfter(pass))
        files.Delete(file);
    context.journal.SetTask(key, files.ToJson());
    if (pass < context.type->PassCount())
        RunPass(pass + 1);
    else
        Complete();
}

void TaskRun::Complete()
{
    const ConversionTask task = Task();
    const QString output = files.Path(TaskFile::Output);
    if (!files.Owns(TaskFile::Output) && QFileInfo::exists(output)) { // someone else's now
        Fail(context.type->PassCount(), WrittenOver({output}));
        return;
    }
    const QFileInfo info(output);
    if (!info.isFile() || info.size() <= 0) {
        Fail(context.type->PassCount(),
             QStringLiteral("every tool succeeded, but the output file %1 is missing or empty")
                 .arg(output));
        return;
    }
    OutputExpectation expected = OutputExpectation::ForPart(task, source);
    expected.brands = context.type->Brands();
    expected.ReadCheckEntry(profile.keys, profile.values);
    for (const auto &addOn : addOns)
        addOn->AskOfCheck(expected);
    // The check decodes the whole file: on a thread of its own, so the window stays live.
    struct Result {
        QString problem;
        SoundLevels levels;
    };
    auto result = std::make_shared<Result>();
    checker = QThread::create([output, expected, result] {
        result->problem = OutputCheck::Verify(output, expected, &result->levels);
    });
    checker->setParent(this);
    connect(checker, &QThread::finished, this,
            [this, result] { OnCheckEnded(result->problem, result->levels); });
    checker->start();
}

void TaskRun::OnCheckEnded(const QString &problem, const SoundLevels &levels)
{
    checker->deleteLater();
    checker = nullptr;
    if (cancelled) {
        EndCancelled();
        return;
    }
    if (!problem.isEmpty()) {
        Fail(context.type->PassCount(),
             QStringLiteral("the finished file is not what the profile makes: %1").arg(problem),
             QString(), QStringList(), QStringLiteral("the result is not right: %1").arg(problem));
        return;
    }
    for (const auto &addOn : addOns)
        addOn->TakeCheckReadings(levels);
    stage = TaskAddOn::Stage::AfterPasses; // the add-ons' checks
    QueueAddOnSteps(stage);
    RunNextStep();
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
    ConversionTask task = context.tasks.GetAt(row);
    context.log.Append(ErrorLog::FormatTaskFailure(row, task.sourcePath, failedPass, why,
                                                   failedCommand, lastLines));
    QString told = reason.isEmpty() ? why : reason;
    if (diskFull && !told.contains(QLatin1String("disk is full")))
        told += QStringLiteral(" (the disk is full)");
    if (group)
        told = QStringLiteral("part %1 of %2: %3").arg(part.number).arg(group->Count()).arg(told);
    task.note = told; // kept with the task for whoever shows its Failed cell
    context.tasks.SetAt(row, task);
    SetState(TASK_FAILED);
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
    // A file someone else wrote over at one of its names is theirs: it stays, and is named.
    const QStringList left = files.DeleteAll();
    const QStringList kept = files.TakeLost();
    if (left.isEmpty() && kept.isEmpty())
        return;
    QString entry = QStringLiteral("ERROR:   TASK        =   %1 (%2).\n")
                        .arg(row + 1)
                        .arg(context.tasks.GetAt(row).sourcePath);
    for (const QString &path : left)
        entry += QStringLiteral("       not removed     =   %1 (the next batch tries again)\n")
                     .arg(path);
    for (const QString &path : kept)
        entry += QStringLiteral("       kept            =   %1 (written over by someone else "
                                "since the task made it: not the task's to remove)\n")
                     .arg(path);
    context.log.Append(entry);
}

void TaskRun::Finish(bool finished)
{
    running = false;
    if (finished && group) { // the part's file stays the task's until every part finished
        group->Keep(part.number, std::exchange(files, TaskFiles()), key);
        emit ended(row, finished);
        return;
    }
    if (finished) {
        ConversionTask task = context.tasks.GetAt(row);
        task.finished = 1;
        context.tasks.SetAt(row, task);
        context.host.InvalidateCells(row, row, COL_PROGRESS, false);
    }
    // Files that could not be deleted stay journaled for the next batch to try again.
    if (files.OwnsNothing())
        context.journal.EndTask(key);
    else
        context.journal.SetTask(key, files.ToJson());
    emit ended(row, finished);
}
