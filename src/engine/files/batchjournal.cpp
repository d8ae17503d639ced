// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/batchjournal.h"

#include "files/fileidentity.h"
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
#include <QThread>

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

// How long recovery waits for killed tools to be gone before it removes their files.
constexpr int killWaitMs = 2000;

const QString journalPrefix = QStringLiteral("batch-");
const QString journalSuffix = QStringLiteral(".json");
const QString lockSuffix = QStringLiteral(".lock");

struct ProcessInfo {
    qint64 pid = 0;
    qint64 group = 0;
    qint64 start = -1; // clock ticks after boot
    char state = '?';
};

// One process as /proc tells it; start -1 when it does not exist.
ProcessInfo ReadProcess(qint64 pid)
{
    ProcessInfo info;
    info.pid = pid;
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return info;
    const QByteArray text = stat.readAll();
    // "pid (name) state ppid pgrp ...": the name may hold blanks and parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return info;
    info.state = fields.at(0).isEmpty() ? '?' : fields.at(0).at(0);
    info.group = fields.at(2).toLongLong();
    info.start = fields.at(19).toLongLong();
#endif
    return info;
}

QString BootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed()
                                          : QString();
}

QList<ProcessInfo> AllProcesses()
{
    QList<ProcessInfo> all;
#ifdef Q_OS_LINUX
    const uint self = uint(::getuid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || QFileInfo(QStringLiteral("/proc/") + entry).ownerId() != self)
            continue;
        const ProcessInfo info = ReadProcess(pid);
        if (info.start >= 0)
            all.append(info);
    }
#endif
    return all;
}

// The living members of a tool's process group that the batch started: none when the group
// id has since been taken by someone else (its leader's start time differs).
QList<qint64> GroupMembers(const QList<ProcessInfo> &all, qint64 group, qint64 leaderStart)
{
    const ProcessInfo leader = ReadProcess(group);
    if (leader.start >= 0 && leader.start != leaderStart)
        return {};
    QList<qint64> members;
    for (const ProcessInfo &p : all)
        if (p.group == group && p.start >= leaderStart && p.state != 'Z')
            members.append(p.pid);
    return members;
}

int KillGroups(const QJsonArray &groups)
{
    QList<qint64> killed;
#ifdef Q_OS_UNIX
    const QList<ProcessInfo> all = AllProcesses();
    for (const QJsonValue &value : groups) {
        const QJsonObject group = value.toObject();
        const QList<qint64> members =
            GroupMembers(all, group.value(QStringLiteral("id")).toInteger(),
                         group.value(QStringLiteral("start")).toInteger());
        for (qint64 pid : members)
            if (::kill(pid_t(pid), SIGKILL) == 0)
                killed.append(pid);
    }
    // Files are removed only once nothing can write them again.
    const QDeadlineTimer deadline(killWaitMs);
    for (qint64 pid : std::as_const(killed)) {
        while (!deadline.hasExpired()) {
            const ProcessInfo p = ReadProcess(pid);
            if (p.start < 0 || p.state == 'Z')
                break;
            QThread::msleep(10);
        }
    }
#else
    Q_UNUSED(groups);
#endif
    return int(killed.size());
}

void RecoverJournal(const QJsonObject &journal, qint64 lastAliveNs,
                    BatchJournal::Recovery &recovery)
{
    const bool sameBoot = journal.value(QStringLiteral("boot")).toString() == BootId();
    for (const QJsonValue &value : journal.value(QStringLiteral("tasks")).toArray()) {
        const QJsonObject task = value.toObject();
        // Files are removed only once nothing can write them again.
        if (sameBoot)
            recovery.killedProcesses += KillGroups(task.value(QStringLiteral("groups")).toArray());
        recovery.removedFiles +=
            TaskFiles::RecoverFromJson(task.value(QStringLiteral("files")).toObject(), lastAliveNs);
    }
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

void BatchJournal::Touch()
{
#ifdef Q_OS_UNIX
    if (!journalPath.isEmpty())
        ::utimensat(AT_FDCWD, QFile::encodeName(journalPath).constData(), nullptr, 0);
#endif
}

BatchJournal::~BatchJournal()
{
    bool anyFiles = false;
    for (const Task &task : std::as_const(tasks))
        anyFiles = anyFiles || !task.files.value(QStringLiteral("files")).toArray().isEmpty();
    Close(!anyFiles);
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
    // A journal that cannot be written now would fail silently later: try it.
    QSaveFile probe(journalPath);
    if (!probe.open(QIODevice::WriteOnly) || probe.write("{}") != 2 || !probe.commit()) {
        if (problem)
            *problem =
                QStringLiteral("%1 cannot be written: %2").arg(journalPath, probe.errorString());
        Close(true);
        return false;
    }
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
    if (!heartbeat.isActive())
        heartbeat.start(heartbeatMs);
}

void BatchJournal::AddToolGroup(int row, qint64 pid)
{
    if (pid <= 0 || !tasks.contains(row))
        return;
    tasks[row].groups.append({pid, ReadProcess(pid).start});
    Write();
}

void BatchJournal::EndTask(int row)
{
    tasks.remove(row);
    if (tasks.isEmpty()) {
        heartbeat.stop();
        Close(true);
    } else {
        Write();
    }
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
    const QJsonObject journal{{QStringLiteral("boot"), BootId()},
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
    if (removeFile) {
        QFile::remove(journalPath);
        QFile::remove(lockPath); // still held: nobody can take it over meanwhile
    }
    ::close(lockFd);
    lockFd = -1;
    journalPath.clear();
    lockPath.clear();
#else
    Q_UNUSED(removeFile);
#endif
}

BatchJournal::Recovery BatchJournal::RecoverAbandoned(const QString &journalFolder)
{
    Recovery recovery;
#ifdef Q_OS_UNIX
    const QDir dir(journalFolder);
    if (journalFolder.isEmpty() || !dir.exists())
        return recovery;
    const QStringList names = dir.entryList({journalPrefix + QStringLiteral("*") + journalSuffix},
                                            QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString journalPath = dir.filePath(name);
        const QString lockPath = journalPath.chopped(journalSuffix.size()) + lockSuffix;
        const int fd = TryLock(lockPath);
        if (fd < 0)
            continue; // its program still runs
        QFile file(journalPath);
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonDocument journal = QJsonDocument::fromJson(file.readAll());
            file.close();
            // The program was last seen alive when it last touched its journal; its tools died
            // with it, give or take a heartbeat and a second.
            const qint64 lastAliveNs =
                FileIdentity::Of(journalPath).modifiedNs + qint64(heartbeatMs + 1000) * 1000000;
            RecoverJournal(journal.object(), lastAliveNs, recovery);
            QFile::remove(journalPath);
        }
        QFile::remove(lockPath);
        ::close(fd);
    }
#else
    Q_UNUSED(journalFolder);
#endif
    return recovery;
}
