// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/journalwatcher.h"

#include "files/processes.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace {

// Lines from the program: "run PID" when a tool starts, "end PID" when it has ended, "done" as
// its goodbye. The end of the other side without a goodbye is the program's death: the watcher
// then waits until the tools still running have died with it (their last writes done; a tool
// that is a zombie has), at most a second each, and makes the marker. "$0" names the watcher in
// the process list; "$1" is the marker.
const char *const script =
    "live=\n"
    "while read -r word pid; do\n"
    "  case $word in\n"
    "  done) exit 0 ;;\n"
    "  run) live=\"$live $pid\" ;;\n"
    "  end) left=; for p in $live; do [ \"$p\" = \"$pid\" ] || left=\"$left $p\"; done; "
    "live=$left ;;\n"
    "  esac\n"
    "done\n"
    "for p in $live; do\n"
    "  n=0\n"
    "  while [ $n -lt 100 ] && read -r stat < \"/proc/$p/stat\"; do\n"
    "    case $stat in *') Z '*) break ;; esac\n"
    "    sleep 0.01; n=$((n + 1))\n"
    "  done\n"
    "done\n"
    ": > \"$1\"\n";

// A watcher that does not go within this long after its goodbye is left alone.
constexpr int reapWaitMs = 2000;

} // namespace

JournalWatcher::~JournalWatcher()
{
    Stop(false);
}

bool JournalWatcher::Start(const QString &markerPath)
{
#ifdef Q_OS_UNIX
    Stop(false);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0); // the copy is not closed on exec
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&actions, 3); // it holds nothing of ours
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A session of its own: a terminal's Ctrl-C or hang-up ends the program, not its watcher.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    QByteArray marker = QFile::encodeName(markerPath);
    char shell[] = "sh", option[] = "-c", name[] = "kestrani-journal-watch";
    QByteArray text(script);
    char *arguments[] = {shell, option, text.data(), name, marker.data(), nullptr};
    pid_t child = -1;
    const int error = ::posix_spawn(&child, "/bin/sh", &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return false;
    }
    socket = ends[0];
    pid = child;
    start = processes::Read(pid).start;
    return true;
#else
    Q_UNUSED(markerPath);
    return false;
#endif
}

void JournalWatcher::Tool(qint64 toolPid, bool running)
{
#ifdef Q_OS_UNIX
    if (socket < 0 || toolPid <= 0)
        return;
    const QByteArray line = (running ? "run " : "end ") + QByteArray::number(toolPid) + '\n';
    ::send(socket, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
#else
    Q_UNUSED(toolPid);
    Q_UNUSED(running);
#endif
}

void JournalWatcher::Stop(bool markEnd)
{
#ifdef Q_OS_UNIX
    if (socket < 0)
        return;
    if (!markEnd)
        ::send(socket, "done\n", 5, MSG_NOSIGNAL); // a watcher that is gone gets nothing
    ::close(socket);
    socket = -1;
    // It goes at once; not reaped, it would stay a zombie for the program's life.
    const QDeadlineTimer deadline(reapWaitMs);
    while (::waitpid(pid_t(pid), nullptr, WNOHANG) == 0 && !deadline.hasExpired())
        QThread::msleep(1);
    pid = start = -1;
#else
    Q_UNUSED(markEnd);
#endif
}
