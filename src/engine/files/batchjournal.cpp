// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/batchjournal.h"

#include "files/bytenames.h"
#include "files/fileidentity.h"
#include "files/processes.h"
#include "files/taskfiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

#include <optional>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString journalPrefix = QStringLiteral("batch-");
const QString journalSuffix = QStringLiteral(".json");
const QString lockSuffix = QStringLiteral(".lock");
const QString endedSuffix = QStringLiteral(".ended");

// A journal touched this recently belongs to a live program, whatever its lock says (the lock
// file may have been removed, or the journals are on a file system without shared locks).
constexpr qint64 liveNs = qint64(5) * BatchJournal::heartbeatMs * 1000000;
// How long recovery waits for a live watcher to mark its program's end.
constexpr int markWaitMs = 2500; // the watcher waits up to a second for the tools

// The file system's clock, which stamps the journals: a file made now says what it reads.
qint64 FileSystemNow(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.clock-XXXXXX"));
    return probe.open() ? FileIdentity::Of(probe.fileName()).modifiedNs
                        : QDateTime::currentMSecsSinceEpoch() * 1000000;
}

void RecoverJournal(const QJsonObject &journal, qint64 endedNs, BatchJournal::Recovery &recovery)
{
    const bool sameBoot = journal.value(QStringLiteral("boot")).toString() == processes::BootId();
    for (const QJsonValue &value : journal.value(QStringLiteral("tasks")).toArray()) {
        const QJsonObject task = value.toObject();
        // Files are removed only once nothing can write them again.
        if (sameBoot)
            recovery.killedProcesses +=
                processes::KillGroups(task.value(QStringLiteral("groups")).toArray());
        const TaskFiles::Recovered files =
            TaskFiles::RecoverFromJson(task.value(QStringLiteral("files")).toObject(), endedNs);
        recovery.removedFiles += files.removed;
        recovery.keptFiles += files.kept;
    }
}

// When the program of a journal whose lock is free ended, as the file system's clock has it:
// its watcher's mark, or, without one, its last heartbeat and the time its tools may have had
// after it. Nothing when the program still runs (its lock file removed): its watcher lives,
// or its journal was touched a moment ago.
std::optional<qint64> EndOf(const QString &base, const QJsonObject &journal)
{
    const QString markerPath = base + endedSuffix;
    const QJsonObject watcher = journal.value(QStringLiteral("watcher")).toObject();
    const bool sameBoot = journal.value(QStringLiteral("boot")).toString() == processes::BootId();
    const QDeadlineTimer deadline(markWaitMs);
    // A program that has just died: its watcher marks it within moments.
    while (!FileIdentity::Of(markerPath).Exists() && sameBoot &&
           processes::StillRunning(watcher.value(QStringLiteral("pid")).toInteger(),
                                   watcher.value(QStringLiteral("start")).toInteger(-1))) {
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(10);
    }
    if (const FileIdentity marker = FileIdentity::Of(markerPath); marker.Exists())
        return marker.modifiedNs;
    const qint64 touched = FileIdentity::Of(base + journalSuffix).modifiedNs;
    if (touched > FileSystemNow(QFileInfo(base).path()) - liveNs)
        return std::nullopt;
    return touched + qint64(BatchJournal::heartbeatMs + 1000) * 1000000;
}

#ifdef Q_OS_UNIX
// An exclusive lock on the file, without waiting; -1 when someone holds it.
int TryLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

} // namespace

BatchJournal::BatchJournal(const QString &folder) : folder(folder)
{
    QObject::connect(&heartbeat, &QTimer::timeout, &heartbeat, [this] { Touch(); });
}

BatchJournal::~BatchJournal()
{
    bool anyFiles = false;
    for (const Task &task : std::as_const(tasks))
        anyFiles = anyFiles || !task.files.value(QStringLiteral("files")).toArray().isEmpty();
    Close(!anyFiles);
}

void BatchJournal::Touch()
{
#ifdef Q_OS_UNIX
    if (!journalPath.isEmpty())
        ::utimensat(AT_FDCWD, QFile::encodeName(journalPath).constData(), nullptr, 0);
#endif
}

bool BatchJournal::Open(QString *problem)
{
#ifdef Q_OS_UNIX
    if (lockFd >= 0)
        return true;
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        if (problem)
            *problem = QStringLiteral("the folder %1 cannot be made").arg(folder);
        return false;
    }
    const QString base = QStringLiteral("%1/%2%3-%4")
                             .arg(QDir::cleanPath(folder), journalPrefix)
                             .arg(QCoreApplication::applicationPid())
                             .arg(QDateTime::currentMSecsSinceEpoch());
    // The lock first: a journal is never on disk without its living program's lock.
    lockFd = TryLock(base + lockSuffix);
    if (lockFd < 0) {
        if (problem)
            *problem = QStringLiteral("%1 cannot be written: %2")
                           .arg(base + lockSuffix, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    lockPath = base + lockSuffix;
    journalPath = base + journalSuffix;
    markerPath = base + endedSuffix;
    watcher.Start(markerPath); // without it, recovery goes by the heartbeat
    // A journal that cannot be written now would fail silently later: try it.
    QSaveFile probe(journalPath);
    if (!probe.open(QIODevice::WriteOnly) || probe.write("{}") != 2 || !probe.commit()) {
        if (problem)
            *problem =
                QStringLiteral("%1 cannot be written: %2").arg(journalPath, probe.errorString());
        Close(true);
        return false;
    }
    heartbeat.start(heartbeatMs);
    return true;
#else
    if (problem)
        *problem = QStringLiteral("batch journals are not kept on this system");
    return false;
#endif
}

void BatchJournal::SetTask(int row, const QJsonObject &files)
{
    tasks[row].files = files;
    Write();
}

void BatchJournal::AddToolGroup(int row, qint64 pid)
{
    if (pid <= 0 || !tasks.contains(row))
        return;
    tasks[row].groups.append({pid, processes::Read(pid).start});
    Write();
    watcher.Tool(pid, true);
}

void BatchJournal::ToolEnded(qint64 pid)
{
    watcher.Tool(pid, false);
}

void BatchJournal::EndTask(int row)
{
    tasks.remove(row);
    Write();
}

void BatchJournal::Write()
{
    if (!Open())
        return;
    QJsonArray taskArray;
    for (auto it = tasks.cbegin(); it != tasks.cend(); ++it) {
        QJsonArray groupArray;
        for (const auto &group : it.value().groups)
            groupArray.append(QJsonObject{{QStringLiteral("id"), group.first},
                                          {QStringLiteral("start"), group.second}});
        taskArray.append(QJsonObject{{QStringLiteral("row"), it.key()},
                                     {QStringLiteral("files"), it.value().files},
                                     {QStringLiteral("groups"), groupArray}});
    }
    const QJsonObject journal{
        {QStringLiteral("boot"), processes::BootId()},
        {QStringLiteral("watcher"), QJsonObject{{QStringLiteral("pid"), watcher.Pid()},
                                                {QStringLiteral("start"), watcher.StartTime()}}},
        {QStringLiteral("tasks"), taskArray}};
    // Written beside and renamed over: a kill in the middle leaves the previous journal whole.
    QSaveFile file(journalPath);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(journal).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

void BatchJournal::Close(bool removeFile)
{
#ifdef Q_OS_UNIX
    if (lockFd < 0)
        return;
    heartbeat.stop();
    if (removeFile) {
        watcher.Stop(false); // nothing is left to recover
        QFile::remove(journalPath);
        QFile::remove(lockPath); // still held: nobody can take it over meanwhile
    }
    ::close(lockFd);
    lockFd = -1;
    // A journal left behind is the next batch's to recover: marked ended from now on.
    watcher.Stop(true);
    journalPath.clear();
    lockPath.clear();
    markerPath.clear();
#else
    Q_UNUSED(removeFile);
#endif
}

BatchJournal::Recovery BatchJournal::RecoverAbandoned(const QString &journalFolder)
{
    Recovery recovery;
#ifdef Q_OS_UNIX
    QDir dir(journalFolder);
    if (journalFolder.isEmpty() || !dir.exists())
        return recovery;
    const QStringList names = dir.entryList({journalPrefix + QStringLiteral("*") + journalSuffix},
                                            QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString journalPath = dir.filePath(name);
        const QString base = journalPath.chopped(journalSuffix.size());
        const int fd = TryLock(base + lockSuffix);
        if (fd < 0)
            continue; // its program still runs
        QFile file(journalPath);
        const QJsonObject journal = file.open(QIODevice::ReadOnly)
                                        ? QJsonDocument::fromJson(file.readAll()).object()
                                        : QJsonObject();
        file.close();
        const std::optional<qint64> ended = EndOf(base, journal);
        if (!ended) {
            ::close(fd); // alive, only without its lock: not ours to touch
            continue;
        }
        RecoverJournal(journal, *ended, recovery);
        QFile::remove(journalPath);
        QFile::remove(base + endedSuffix);
        QFile::remove(base + lockSuffix);
        ::close(fd);
    }
    bytenames::RemoveStaleAliases(journalFolder);
    // Marks whose journal went with a normal end (a goodbye that came too late).
    for (const QString &name : dir.entryList({journalPrefix + QStringLiteral("*") + endedSuffix},
                                             QDir::Files | QDir::Hidden))
        if (!dir.exists(name.chopped(endedSuffix.size()) + journalSuffix))
            dir.remove(name);
#else
    Q_UNUSED(journalFolder);
#endif
    return recovery;
}
