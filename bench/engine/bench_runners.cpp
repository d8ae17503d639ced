// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own processor time while a tool runs through each runner. A runner that
// waits properly costs next to nothing; a spinning one costs a whole core.
// Usage: bench_runners [seconds]   (needs the tests' fake_encoder built; uses ffmpeg too)
#include "benchhost.h"
#include "conversionengine.h"
#include "tasklist.h"

#include <QCoreApplication>
#include <QElapsedTimer>

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

template <typename Run> void Measure(const char *name, Run run)
{
    const double cpu0 = OwnCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    const RunResult r = run();
    const double cpu = OwnCpuSeconds() - cpu0;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("%-34s wall %6.2f s  own cpu %7.1f ms  = %6.3f %% of the run  (exit %d)\n", name,
                seconds, cpu * 1000.0, 100.0 * cpu / seconds, r.exitCode);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString fake = QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_encoder");
    const QString lines = QString::number(seconds * 2); // a status line every 0.5 s, as ffmpeg
    const QString frames = QString::number(seconds * 15);

    BenchHost host;
    TaskList tasks;
    tasks.Append(ConversionTask::ForSource("/v/clip.avi", seconds));
    ConversionEngine engine(host, tasks);
    engine.taskStartTick = ConversionEngine::TickCount();

    std::printf("goal: under 0.5 %% of the tool's run time\n");
    Measure("pass 1, stand-in encoder", [&] {
        return engine.RunPipedProcess({fake, "--frames", lines, "--interval", "500"});
    });
    Measure("pass 1, stand-in encoder, silent", [&] {
        return engine.RunPipedProcess({fake, "--silent", "--frames", lines, "--interval", "500"});
    });
    Measure("later pass, stand-in encoder", [&] {
        return engine.RunProcessAndWait({fake, "--frames", lines, "--interval", "500"});
    });
    Measure("pass 1, ffmpeg in real time", [&] {
        return engine.RunPipedProcess({"ffmpeg", "-y", "-re", "-f", "lavfi", "-i",
                                       "testsrc2=size=176x144:rate=15", "-frames:v", frames, "-f",
                                       "null", "-"});
    });
    return 0;
}
