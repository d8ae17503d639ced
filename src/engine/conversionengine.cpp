// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionengine.h"

#include "enginehost.h"
#include "files/batchjournal.h"
#include "files/bytenames.h"
#include "files/outputnameplanner.h"
#include "profiles/outputtypes.h"
#include "profiles/profilecatalog.h"
#include "progress/progresstext.h"
#include "run/batchscheduler.h"
#include "run/shutdown.h"
#include "run/taskrun.h"
#include "tasklist.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

namespace {

const char *const emptyFolderText = "  Please set the output directory firstly   ";
const char *const missingFolderText = "  The output directory \"%1\" does not exist   ";
const char *const unwritableFolderText = "  The output directory \"%1\" cannot be written   ";

} // namespace

ConversionEngine::ConversionEngine(EngineHost &host, TaskList &tasks, const EnginePaths &paths,
                                   QObject *parent)
    : QObject(parent), host(host), tasks(tasks), paths(paths), log(paths.logFile, paths.fallbackLog)
{
    // Aliases of names that are not UTF-8 beside the journals, which may name files through them.
    bytenames::SetAliasFolder(paths.journalFolder);
    // Tests and impatient users may shorten the limit; it is never switched off this way.
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("KESTRANI_STALL_SECONDS", &ok);
    if (ok && seconds > 0)
        stallSeconds = seconds;
}

ConversionEngine::~ConversionEngine()
{
    scheduler.reset(); // before the context and journal its tasks refer to
    context.reset();
    journal.reset();
}

int ConversionEngine::MachineTasks()
{
    // One task keeps 1.1 to 1.3 cores busy (measured: the encoder's own threads in the first
    // pass, then single-threaded later passes), so a task for every core and a half, and at
    // least two, keep every core busy without crowding the machine.
    const int cores = qMax(1, QThread::idealThreadCount());
    return qMax(2, (cores * 2 + 2) / 3);
}

void ConversionEngine::LoadProfiles(int outputType)
{
    const ProfileCatalog::Listing listing = ProfileCatalog(paths).List(outputType);
    if (!listing.readable)
        return;
    host.SetProfileDescription(listing.description);
    host.ResetProfileList();
    for (const QString &title : listing.titles)
        host.AddProfileRow(title);
    host.SetProfileSelection(listing.defaultRow);
    if (!listing.warning.isEmpty())
        host.ShowMessage(listing.warning, QStringLiteral("Warning"),
                         EngineHost::MessageIcon::Warning);
}

void ConversionEngine::OnStartClicked()
{
    if (converting)
        return;
    const int n = tasks.Count(); // taken once: the batch runs over these tasks
    if (n < 1)
        return;
    host.StopPreview();
    // Not cut to the edit's old 259 characters: the text names the folder the files go to.
    if (!CheckOutputFolder(host.OutputDirectoryText()))
        return;
    RecoverAbandonedBatches();
    converting = true; // from here on, a Start that comes while a box is shown is refused
    stoppedEarly = false;
    host.ShowConvertingButtons(true);
    journal = std::make_unique<BatchJournal>(paths.journalFolder);
    if (QString problem; !journal->Open(&problem))
        host.ShowMessage(QStringLiteral("The batch journal cannot be kept (%1). The batch runs, "
                                        "but should the program be killed during it, its "
                                        "unfinished files stay in the output folder.")
                             .arg(problem),
                         QStringLiteral("Warning"), EngineHost::MessageIcon::Warning);
    ResetTaskProgress();
    host.EnableOutputSettings(false);
    const OutputType *type = OutputType::Find(host.SelectedOutputType());
    names = std::make_unique<OutputNamePlanner>(outputFolder, type);
    PlanOutputNames(*names); // its plans then keep each task's name from the others
    context.reset(new BatchContext{host, tasks, paths, log, *journal, *names, type,
                                   host.SelectedProfileRow(), outputFolder, stallSeconds, options});
    scheduler = std::make_unique<BatchScheduler>(*context);
    // The end is handled from the event loop, never inside the last task's own report.
    connect(scheduler.get(), &BatchScheduler::ended, this, &ConversionEngine::OnBatchEnded,
            Qt::QueuedConnection);
    scheduler->Start(n, simultaneous > 0 ? simultaneous : MachineTasks(), stoppedEarly);
}

bool ConversionEngine::CheckOutputFolder(const QString &folderText)
{
    const auto showError = [this](const QString &text) {
        host.ShowMessage(text, QStringLiteral("Error"), EngineHost::MessageIcon::Error);
        return false;
    };
    if (folderText.isEmpty())
        return showError(QString::fromLatin1(emptyFolderText));
    const QFileInfo folder(folderText);
    if (!folder.isDir())
        return showError(QString::fromLatin1(missingFolderText).arg(folderText));
    // Permission bits do not tell about read-only mounts and access lists: try it.
    const QString path = WithTrailingSeparator(QDir::toNativeSeparators(folder.absoluteFilePath()));
    QTemporaryFile probe(path + QStringLiteral(".kestrani-XXXXXX"));
    if (!probe.open())
        return showError(QString::fromLatin1(unwritableFolderText).arg(folderText));
    // The files go where the check was made, however the page keeps its copy of the path.
    outputFolder = path;
    return true;
}

void ConversionEngine::RecoverAbandonedBatches()
{
    const BatchJournal::Recovery recovery = BatchJournal::RecoverAbandoned(paths.journalFolder);
    if (recovery.removedFiles.isEmpty() && recovery.keptFiles.isEmpty() &&
        recovery.killedProcesses == 0)
        return;
    QString entry = QStringLiteral("NOTE:    a batch was interrupted (its program was killed); "
                                   "what it left is cleaned up.\n"
                                   "       tools ended     =   %1.\n")
                        .arg(recovery.killedProcesses);
    for (const QString &path : recovery.removedFiles)
        entry += QStringLiteral("       removed         =   %1\n").arg(path);
    for (const QString &path : recovery.keptFiles)
        entry += QStringLiteral("       kept            =   %1 (written by someone else since "
                                "the batch was interrupted)\n")
                     .arg(path);
    log.Append(entry);
    if (!recovery.removedFiles.isEmpty())
        emit recovered(recovery.removedFiles);
}

void ConversionEngine::OnStopClicked()
{
    if (converting && scheduler)
        scheduler->Stop();
    else if (converting)
        stoppedEarly = true;
}

void ConversionEngine::OnBatchEnded()
{
    if (!scheduler)
        return;
    outcome = scheduler->Outcome();
    const bool stopped = scheduler->Cancelled();
    scheduler.reset();
    context.reset();
    names.reset();
    journal.reset();
    host.EnableOutputSettings(true);
    converting = false;
    host.ShowConvertingButtons(false);
    // Only a batch that went well powers the machine off: after a failure somebody has to be
    // told, and the box says what happened; after a Stop somebody is there.
    if (!stopped && outcome.AllFinished() && host.ShutdownAfterBatch()) {
        ShutdownComputer(host);
    } else if (outcome.failed > 0) {
        host.ShowMessage(outcome.Text(host.WhereFailuresAre(outcome.failedRows)),
                         QStringLiteral("Warning"), EngineHost::MessageIcon::Warning);
    } else {
        host.ShowMessage(outcome.Text(QString()), QStringLiteral("Information"),
                         EngineHost::MessageIcon::Information);
    }
    emit batchEnded();
}

void ConversionEngine::ResetTaskProgress()
{
    for (int i = 0; i < tasks.Count(); ++i) {
        ConversionTask task = tasks.GetAt(i);
        task.finished = 0;
        task.sizeKB = 0;
        task.framesPerSecond = 0.0;
        task.encodedSeconds = 0.0;
        tasks.SetAt(i, task);
    }
}

QString ConversionEngine::OutputFolderText() const
{
    const QString text = host.OutputDirectoryText();
    if (text.isEmpty())
        return text;
    return WithTrailingSeparator(QDir::toNativeSeparators(QFileInfo(text).absoluteFilePath()));
}

void ConversionEngine::PlanOutputNames()
{
    const OutputType *type = OutputType::Find(host.SelectedOutputType());
    if (!type)
        return;
    OutputNamePlanner planner(OutputFolderText(), type);
    PlanOutputNames(planner);
}

void ConversionEngine::PlanOutputNames(OutputNamePlanner &planner)
{
    if (tasks.Count() == 0)
        return;
    for (int i = 0; i < tasks.Count(); ++i) {
        ConversionTask task = tasks.GetAt(i);
        task.outputName = planner.Plan(i, task);
        tasks.SetAt(i, task);
    }
    host.InvalidateCells(0, tasks.Count() - 1, COL_OUTPUT, false);
}

QStringList ConversionEngine::TaskSummaries(int index, const BatchOptions &batchOptions) const
{
    if (!tasks.IsValidIndex(index))
        return {};
    return TaskRun::Summaries(paths, OutputType::Find(host.SelectedOutputType()),
                              host.SelectedProfileRow(), OutputFolderText(), tasks.GetAt(index),
                              batchOptions);
}

QList<QStringList> ConversionEngine::TaskCommands(int index) const
{
    if (!tasks.IsValidIndex(index))
        return {};
    return TaskRun::Commands(paths, OutputType::Find(host.SelectedOutputType()),
                             host.SelectedProfileRow(), OutputFolderText(), tasks.GetAt(index),
                             options);
}
