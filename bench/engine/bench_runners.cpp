// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own processor time while a tool runs through the pass runner, as a share of one
// core: a runner that waits in the event loop costs next to nothing, a spinning one a whole
// core. Pass 1 reads the tool's status text and takes its figures in as the batch does.
// Usage: bench_runners [seconds]   (needs the tests' fake_encoder built; uses ffmpeg too)
#include "conversiontask.h"
#include "progress/progressfields.h"
#include "progress/progresstext.h"
#include "run/passrunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <sys/resource.h>

#include <cstdio>

namespace {

double OwnCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Measure(const char *name, PassRunner::Mode mode, const QStringList &arguments,
             int stallSeconds = 0)
{
    PassRunner runner(mode);
    ConversionTask task = ConversionTask::ForSource(QStringLiteral("/v/clip.avi"), 3600);
    task.state = TASK_ENCODING;
    char previous = '\n';
    qint64 chunks = 0;
    QElapsedTimer started;
    started.start();
    QObject::connect(&runner, &PassRunner::output, [&](const QByteArray &chunk) {
        ProgressFields::Read(chunk, previous).TakeInto(task, quint32(started.elapsed()));
        previous = chunk.back();
        ProgressText(task); // what repainting the cell would ask for
        ++chunks;
    });
    runner.SetStallLimit(stallSeconds, [] { return qint64(0); });
    QEventLoop loop;
    RunResult result;
    QObject::connect(&runner, &PassRunner::ended, [&](const RunResult &r) {
        result = r;
        loop.quit();
    });
    const double cpu0 = OwnCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runner.Start(arguments);
    loop.exec();
    const double cpu = OwnCpuSeconds() - cpu0;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("%-38s wall %6.2f s  own cpu %7.1f ms  = %6.3f %% of a core  (%lld chunks, "
                "exit %d)\n",
                name, seconds, cpu * 1000.0, 100.0 * cpu / seconds, chunks, result.exitCode);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString fake = QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_encoder");
    const QString lines = QString::number(seconds * 2); // a status line every 0.5 s, as ffmpeg
    const QString frames = QString::number(seconds * 15);
    const QString ffmpeg = PassRunner::ResolveProgram(QStringLiteral("ffmpeg"), QString());

    std::printf("goal: under 0.5 %% of a core while a tool runs\n");
    Measure("pass 1, stand-in encoder", PassRunner::Mode::Piped,
            {fake, "--frames", lines, "--interval", "500"});
    Measure("pass 1, stand-in encoder, stall limit", PassRunner::Mode::Piped,
            {fake, "--frames", lines, "--interval", "500"}, 2);
    Measure("pass 1, stand-in encoder, silent", PassRunner::Mode::Piped,
            {fake, "--silent", "--frames", lines, "--interval", "500"});
    Measure("later pass, stand-in encoder", PassRunner::Mode::Quiet,
            {fake, "--frames", lines, "--interval", "500"});
    Measure("pass 1, ffmpeg in real time", PassRunner::Mode::Piped,
            {ffmpeg, "-y", "-re", "-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15", "-frames:v",
             frames, "-f", "null", "-"});
    Measure("later pass, ffmpeg in real time", PassRunner::Mode::Quiet,
            {ffmpeg, "-nostdin", "-y", "-re", "-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15",
             "-frames:v", frames, "-f", "null", "-"});
    return 0;
}
