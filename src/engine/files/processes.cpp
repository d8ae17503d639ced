// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/processes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QList>
#include <QThread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace processes {

namespace {

// How long recovery waits for killed tools to be gone before it removes their files.
constexpr int killWaitMs = 2000;

QList<Info> All()
{
    QList<Info> all;
#ifdef Q_OS_LINUX
    const uint self = uint(::getuid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || QFileInfo(QStringLiteral("/proc/") + entry).ownerId() != self)
            continue;
        const Info info = Read(pid);
        if (info.start >= 0)
            all.append(info);
    }
#endif
    return all;
}

// The living members of a tool's process group that the batch started: none when the group
// id has since been taken by someone else (its leader's start time differs).
QList<qint64> GroupMembers(const QList<Info> &all, qint64 group, qint64 leaderStart)
{
    const Info leader = Read(group);
    if (leader.start >= 0 && leader.start != leaderStart)
        return {};
    QList<qint64> members;
    for (const Info &p : all)
        if (p.group == group && p.start >= leaderStart && p.state != 'Z')
            members.append(p.pid);
    return members;
}

} // namespace

Info Read(qint64 pid)
{
    Info info;
    info.pid = pid;
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
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

bool StillRunning(qint64 pid, qint64 start)
{
    const Info info = Read(pid);
    return start >= 0 && info.start == start && info.state != 'Z';
}

int KillGroups(const QJsonArray &groups)
{
    QList<qint64> killed;
#ifdef Q_OS_UNIX
    const QList<Info> all = All();
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
            const Info p = Read(pid);
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

} // namespace processes
