// SPDX-License-Identifier: GPL-3.0-or-later
#include "batchjournal.h"

#include "taskfiles.h"

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

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

// File times may be kept in steps of up to two seconds (FAT): a file written just after its
// task began may look a little older than the task.
constexpr qint64 timeSlackMs = 2000;
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

// Removes a journaled file while it is still the one the batch wrote.
bool RemoveIfOurs(const QString &path, qint64 since)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;
    if (info.exists() && info.lastModified().toMSecsSinceEpoch() < since - timeSlackMs)
        return false;
    return QFile::remove(path);
}

QStringList ToList(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list.append(item.toString());
    return list;
}

void RecoverJournal(const QJsonObject &journal, BatchJournal::Recovery &recovery)
{
    if (journal.value(QStringLiteral("boot")).toString() == BootId())
        recovery.killedProcesses += KillGroups(journal.value(QStringLiteral("groups")).toArray());
    const qint64 since = journal.value(QStringLiteral("since")).toInteger();
    for (const QString &path : ToList(journal.value(QStringLiteral("files"))))
        if (RemoveIfOurs(path, since))
            recovery.removedFiles.append(path);
    const QJsonObject scratch = journal.value(QStringLiteral("scratch")).toObject();
    TaskFiles files(scratch.value(QStringLiteral("folder")).toString(),
                    scratch.value(QStringLiteral("base")).toString());
    files.SetKnownScratch(ToList(scratch.value(QStringLiteral("before"))));
    for (const QString &name : files.NewScratch())
        if (RemoveIfOurs(files.Folder() + name, since))
            recovery.removedFiles.append(files.Folder() + name);
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

BatchJournal::BatchJournal(const QString &folder)
    : folder(folder.isEmpty() ? DefaultFolder() : folder)
{}

BatchJournal::~BatchJournal()
{
    Close(files.isEmpty());
}

QString BatchJournal::DefaultFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/batches");
}

void BatchJournal::BeginTask(const QStringList &paths, const TaskFiles &taskFiles)
{
    files = paths;
    scratchFolder = taskFiles.Folder();
    scratchBase = taskFiles.BaseName();
    scratchBefore = taskFiles.KnownScratch();
    since = QDateTime::currentMSecsSinceEpoch();
    groups.clear();
    Write();
}

void BatchJournal::AddToolGroup(qint64 pid)
{
    if (pid <= 0 || files.isEmpty())
        return;
    groups.append({pid, ReadProcess(pid).start});
    Write();
}

void BatchJournal::EndTask(const QStringList &leftovers)
{
    files = leftovers;
    groups.clear();
    scratchFolder.clear();
    scratchBase.clear();
    scratchBefore.clear();
    if (files.isEmpty())
        Close(true);
    else
        Write();
}

bool BatchJournal::Open()
{
#ifdef Q_OS_UNIX
    if (lockFd >= 0)
        return true;
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QString base = QStringLiteral("%1/%2%3-%4")
                             .arg(folder, journalPrefix)
                             .arg(QCoreApplication::applicationPid())
                             .arg(QDateTime::currentMSecsSinceEpoch());
    // The lock first: a journal is never on disk without its living program's lock.
    lockFd = TryLock(base + lockSuffix);
    if (lockFd < 0)
        return false;
    lockPath = base + lockSuffix;
    journalPath = base + journalSuffix;
    return true;
#else
    return false;
#endif
}

void BatchJournal::Write()
{
    if (!Open())
        return;
    QJsonArray groupArray;
    for (const auto &group : std::as_const(groups))
        groupArray.append(QJsonObject{{QStringLiteral("id"), group.first},
                                      {QStringLiteral("start"), group.second}});
    const QJsonObject scratch{
        {QStringLiteral("folder"), scratchFolder},
        {QStringLiteral("base"), scratchBase},
        {QStringLiteral("before"), QJsonArray::fromStringList(scratchBefore)}};
    const QJsonObject journal{{QStringLiteral("boot"), BootId()},
                              {QStringLiteral("since"), since},
                              {QStringLiteral("files"), QJsonArray::fromStringList(files)},
                              {QStringLiteral("scratch"), scratch},
                              {QStringLiteral("groups"), groupArray}};
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
    const QDir dir(journalFolder.isEmpty() ? DefaultFolder() : journalFolder);
    if (dir.path().isEmpty() || !dir.exists())
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
            RecoverJournal(journal.object(), recovery);
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
