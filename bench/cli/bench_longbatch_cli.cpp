// SPDX-License-Identifier: GPL-3.0-or-later
// A long batch through kestrani-cli: many short clips (links to one small clip) in one run.
// Printed: how many tasks finished, the wall time, and the program's resident memory (VmRSS)
// when the first task starts, at 10 %, 50 % and 90 % of the tasks and at the last one, with its
// peak (VmHWM): memory that stays flat over the batch shows nothing piles up per task.
//
//   bench_longbatch_cli [COUNT [TYPE [PROFILE]]]   (default: 500 clips, type 1, profile 1)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");

// kB of one field of /proc/PID/status; -1 when it cannot be read.
qint64 StatusField(qint64 pid, const char *field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

bool MakeClip(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                  "testsrc2=size=160x120:rate=15", "-f", "lavfi", "-i", "sine=sample_rate=22050",
                  "-t", "0.5", "-c:v", "mpeg4", "-c:a", "aac", "file:" + path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.value(1, "500").toInt();
    const QString type = args.value(2, "1");
    const QString profile = args.value(3, "1");
    QTemporaryDir dir;
    const QString clip = dir.filePath("clip.mp4");
    if (!dir.isValid() || !MakeClip(clip) || !QDir().mkpath(dir.filePath("out"))) {
        std::fprintf(stderr, "cannot make the clips\n");
        return 1;
    }
    QStringList arguments{"-t", type, "-p", profile, "-o", dir.filePath("out")};
    for (int i = 0; i < count; ++i) {
        const QString name =
            dir.filePath(QStringLiteral("clip%1.mp4").arg(i, 4, 10, QLatin1Char('0')));
        QFile::link(clip, name);
        arguments.append(name);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir.filePath("data")); // its journal and log, not the user's
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(cli, arguments);
    if (!process.waitForStarted()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(cli));
        return 1;
    }
    const qint64 pid = process.processId();
    const QRegularExpression taskLine("^\\[(\\d+)/\\d+\\] .*: (\\w+)$");
    QList<qint64> rssAt(count + 1, -1); // the RSS when task n (1-based) started
    qint64 hwm = -1, lastRss = -1;
    int finished = 0;
    QByteArray pending;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(50);
        pending += process.readAllStandardOutput();
        const qint64 rss = StatusField(pid, "VmRSS:");
        if (rss > 0) {
            lastRss = rss;
            hwm = qMax(hwm, StatusField(pid, "VmHWM:"));
        }
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            const QRegularExpressionMatch m = taskLine.match(line);
            if (!m.hasMatch())
                continue;
            const int task = m.captured(1).toInt();
            if (m.captured(2) == "Encoding" && task <= count && rssAt[task] < 0)
                rssAt[task] = lastRss;
            if (m.captured(2) == "Finished")
                ++finished;
        }
    }
    const double seconds = clock.elapsed() / 1000.0;
    const auto at = [&](int percent) {
        return rssAt.value(qBound(1, count * percent / 100, count));
    };
    std::printf("kestrani-cli, %d clips of 0.5 s, type %s profile %s\n", count, qPrintable(type),
                qPrintable(profile));
    std::printf("  finished %d of %d, exit status %d, %.1f s (%.0f ms per task)\n", finished, count,
                process.exitCode(), seconds, seconds * 1000.0 / qMax(1, count));
    std::printf("  VmRSS kB: first task %lld, 10%% %lld, 50%% %lld, 90%% %lld, last task %lld; "
                "VmHWM %lld\n",
                at(0), at(10), at(50), at(90), rssAt.value(count), hwm);
    return finished == count ? 0 : 1;
}
