// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/passrunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/statvfs.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {} // namespace

qint64 PassRunner::FreeBytes(const QString &folder)
{
#ifdef Q_OS_UNIX
    struct statvfs fs {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) == 0)
        return qint64(fs.f_bavail) * qint64(fs.f_frsize);
#else
    Q_UNUSED(folder);
#endif
    return std::numeric_limits<qint64>::max();
}

namespace {

bool IsExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

PassRunner::PassRunner(Mode mode, QObject *parent) : QObject(parent), mode(mode)
{
#ifdef Q_OS_LINUX
    // A tool must not outlive the program, whatever way the program ends; a program that
    // ended before the request took effect is no longer our parent. A process group of its
    // own keeps a terminal's Ctrl-C away from the tool: Stop decides how it ends.
    const pid_t parentPid = ::getpid();
    process.setChildProcessModifier([parentPid] {
        ::setpgid(0, 0);
        ::signal(SIGPIPE, SIG_DFL); // an ignored signal stays ignored across exec
        // Past a file-size limit a write then fails with a message in the tool's output,
        // instead of the tool vanishing without one.
        ::signal(SIGXFSZ, SIG_IGN);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parentPid)
            ::_exit(127);
    });
#endif
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (mode == Mode::Quiet)
        process.setStandardInputFile(QProcess::nullDevice());
    graceTimer.setSingleShot(true);
    graceTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    connect(&graceTimer, &QTimer::timeout, this, &PassRunner::Kill);
    connect(&stallTimer, &QTimer::timeout, this, &PassRunner::CheckProgress);
    connect(&process, &QProcess::readyReadStandardOutput, this, &PassRunner::ReadOutput);
    connect(&process, &QProcess::finished, this, &PassRunner::OnFinished);
    connect(&process, &QProcess::errorOccurred, this, &PassRunner::OnError);
}

PassRunner::~PassRunner()
{
    if (process.state() == QProcess::NotRunning)
        return;
    KillGroup();
    process.disconnect(this);
    process.waitForFinished(-1);
}

QString PassRunner::ResolveProgram(const QString &name, const QString &appFolder)
{
    if (name.isEmpty())
        return QString();
    if (name.contains(QLatin1Char('/')) || name.contains(QDir::separator()))
        return QFileInfo(name).isAbsolute() ? name : QString();
    if (!appFolder.isEmpty() && IsExecutableFile(QDir(appFolder).filePath(name)))
        return QDir(appFolder).absoluteFilePath(name);
    const QString path = qEnvironmentVariable("PATH");
    for (const QString &folder : path.split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
        if (QDir::isRelativePath(folder))
            continue; // "." and friends would mean whatever folder we were started in
        const QString candidate = QDir(folder).filePath(name);
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return QString();
}

void PassRunner::SetStallLimit(int seconds, std::function<qint64()> probe)
{
    stallMs = qint64(qMax(0, seconds)) * 1000;
    progress = std::move(probe);
}

void PassRunner::Start(const QStringList &arguments)
{
    result = RunResult();
    result.program = arguments.value(0);
    if (result.program.isEmpty()) {
        result.errorText = QString::fromLocal8Bit(std::strerror(ENOENT));
        EndLater(result);
        return;
    }
    process.setProgram(result.program);
    process.setArguments(arguments.mid(1));
    process.start(mode == Mode::Piped ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (process.state() == QProcess::NotRunning)
        return; // errorOccurred has ended it
    // Told as soon as the group exists, before the tool can start tools of its own.
    if (const qint64 pid = process.processId(); pid > 0)
        emit started(pid);
    sinceActivity.start();
    sinceProgressCheck.start();
    if (stallMs > 0) {
        // A tenth of the limit: a stall is seen at most 10 % late, at next to no cost; every
        // second where a full disk is to be noticed.
        qint64 interval = qBound(qint64(100), stallMs / 10, qint64(60000));
        if (!diskFolder.isEmpty())
            interval = qMin<qint64>(interval, 1000);
        stallTimer.start(int(interval));
    }
}

void PassRunner::ReadOutput()
{
    if (mode == Mode::Quiet) {
        tail.Append(process.readAll());
    } else {
        char buffer[chunkBytes];
        while (process.bytesAvailable() > 0) {
            const qint64 n = process.read(buffer, chunkBytes);
            if (n <= 0)
                break;
            const QByteArray chunk(buffer, n);
            tail.Append(chunk);
            emit output(chunk);
        }
    }
    sinceActivity.restart();
}

void PassRunner::CheckProgress()
{
    if (process.state() == QProcess::NotRunning)
        return;
    const bool full = !diskFolder.isEmpty() && FreeBytes(diskFolder) < fullDiskBytes;
    // Looking at the files costs a little: once a tenth of the limit, or now and then while
    // the disk is full.
    if (progress && (full || sinceProgressCheck.elapsed() >= qMax<qint64>(stallMs / 10, 100))) {
        sinceProgressCheck.restart();
        const qint64 now = progress();
        if (now != lastProgress) {
            lastProgress = now;
            sinceActivity.restart();
        }
    }
    if (full && sinceActivity.elapsed() >= fullDiskQuietMs) {
        result.diskFull = result.stalled = true;
        Kill();
        return;
    }
    if (sinceActivity.elapsed() < stallMs)
        return;
    result.stalled = true;
    Kill();
}

void PassRunner::OnFinished()
{
    ReadOutput();
    if (done)
        return;
    done = true;
    graceTimer.stop();
    stallTimer.stop();
    result.started = true;
    result.finished = true;
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : process.exitCode();
    result.lastLines = tail.Lines();
    emit ended(result);
}

void PassRunner::OnError(QProcess::ProcessError error)
{
    if (error == QProcess::ReadError && result.errorText.isEmpty()) {
        result.errorText = process.errorString();
        return;
    }
    if (error != QProcess::FailedToStart || done)
        return;
    result.errorText = process.errorString();
    EndLater(result);
}

void PassRunner::EndLater(RunResult ending)
{
    if (done)
        return;
    done = true;
    QTimer::singleShot(0, this, [this, ending] { emit ended(ending); });
}

void PassRunner::RequestStop()
{
    if (process.state() == QProcess::NotRunning || stopping)
        return;
    stopping = true;
    result.cancelled = true;
    if (mode == Mode::Quiet) {
        Kill();
        return;
    }
    result.quitRequested = true;
    process.write("q", 1);
    process.closeWriteChannel();
    graceTimer.start(quitGraceMs);
}

void PassRunner::Kill()
{
    if (process.state() == QProcess::NotRunning)
        return;
    KillGroup();
}

void PassRunner::KillGroup()
{
#ifdef Q_OS_UNIX
    // The group is signalled only while its leader is not yet reaped, so its id cannot have
    // been given to anyone else.
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(pid_t(-pid), SIGKILL);
#endif
    process.kill();
}

bool PassRunner::IsRunning() const
{
    return process.state() != QProcess::NotRunning;
}
