// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks side by side: one batch of short clips through kestrani-cli with one task at a time
// (-j 1) and with as many as keep the machine busy (-j 0). Printed for each: the wall time, the
// processor time of every process of the batch (kestrani-cli and all its tools), and the share
// of all cores kept busy, (user + system) / (wall x cores); then the wall-time ratio beside what
// it could be at best: the cores divided by the cores one task keeps busy.
//
//   bench_jobs [CLIPS [SECONDS [TYPE]]]   (default: 16 clips of 4 s 640x480, type 0)
#include "childrencpu.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");

struct Run {
    double wall = 0.0;
    double cpu = 0.0;
    int exitCode = -1;
};

// kestrani-cli reaps its tools, so once it is reaped the children's time holds them all.
Run Batch(const QStringList &arguments)
{
    Run run;
    const double before = ChildrenCpu();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(cli, arguments);
    process.waitForFinished(-1);
    run.wall = clock.elapsed() / 1000.0;
    run.cpu = ChildrenCpu() - before;
    run.exitCode = process.exitCode();
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int clips = args.size() > 1 ? args[1].toInt() : 16;
    const double seconds = args.size() > 2 ? args[2].toDouble() : 4.0;
    const QString type = args.size() > 3 ? args[3] : QStringLiteral("0");
    const int cores = QThread::idealThreadCount();
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    QStringList files;
    for (int i = 0; i < clips; ++i) {
        const QString clip = dir.filePath(QStringLiteral("clip%1.mp4").arg(i));
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v",       "error",
                                "-nostdin", "-y",
                                "-f",       "lavfi",
                                "-i",       QStringLiteral("testsrc2=size=640x480:rate=25"),
                                "-f",       "lavfi",
                                "-i",       QStringLiteral("sine=frequency=%1").arg(300 + 20 * i),
                                "-t",       QString::number(seconds),
                                "-c:v",     "mpeg4",
                                "-q:v",     "4",
                                "-c:a",     "aac",
                                clip});
        ffmpeg.waitForFinished(-1);
        files << clip;
    }
    std::printf("%d clips of %.1f s, type %s, %d cores\n", clips, seconds, qPrintable(type), cores);
    Run runs[2];
    const char *labels[2] = {"-j 1", "-j 0"};
    for (int i = 0; i < 2; ++i) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(i));
        QDir().mkpath(out);
        runs[i] = Batch(QStringList{"-t", type, "-o", out, "-j", i == 0 ? "1" : "0"} + files);
        std::printf("%s: wall %7.2f s, processor %7.2f s, cores busy %5.1f %%, exit %d\n",
                    labels[i], runs[i].wall, runs[i].cpu,
                    100.0 * runs[i].cpu / (runs[i].wall * cores), runs[i].exitCode);
    }
    const double perTask = runs[0].cpu / runs[0].wall;
    std::printf("one task keeps %.2f cores busy; wall ratio -j 1 / -j 0: %.2f (at best %.2f)\n",
                perTask, runs[0].wall / runs[1].wall, qMin(double(cores) / perTask, 1.0 * clips));
    return 0;
}
