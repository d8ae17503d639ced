// SPDX-License-Identifier: GPL-3.0-or-later
// Time from process start to the first painted window: this program starts itself again as
// the child that does the real start-up (application object, program folder, skin, frame with
// its page and profiles), and the child reports when the page has been painted once. The time
// includes creating the process, loading the libraries and the platform plug-in. Beside it, in
// turns, the floor: a plain Qt window (kestrani_startup_floor) started and timed the same way.
// Prints the medians and their difference (goal: within 20 ms of the floor).
//   bench_startup [runs]        (default 10; QT_QPA_PLATFORM picks the display; without it, the
//                                X display when DISPLAY is set (xvfb-run -a), else offscreen)

#include "firstpaint.h"
#include "kestraniapp.h"
#include "kestraniframedlg.h"

#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QElapsedTimer sinceMain;

void Phase(const char *name)
{
    std::printf("phase %s %.1f\n", name, sinceMain.nsecsElapsed() / 1e6);
}

int RunChild(int argc, char **argv)
{
    sinceMain.start();
    CKestraniApp app(argc, argv);
    Phase("application");
    CKestraniApp::PrepareProcess(QStringLiteral(KESTRANI_PROGRAM_DIR));
    Phase("skin");
    CKestraniFrameDlg frame;
    Phase("controls");
    FirstPaintWatch watch([] { Phase("painted"); });
    frame.Page().installEventFilter(&watch);
    frame.OnInitDialog();
    Phase("initialisation");
    frame.show();
    Phase("shown");
    return app.exec();
}

// The time of each start-up phase of the last run, from the child's main().
QByteArray lastPhases;

double RunOnce(const QString &program, const QStringList &args)
{
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(program, args);
    if (!child.waitForStarted(10000))
        return -1;
    QByteArray output;
    while (child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(10000);
        output += child.readAll();
        if (output.contains("painted\n"))
            break;
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    child.waitForFinished(10000);
    if (output.contains("phase "))
        lastPhases = output;
    return ms;
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
    std::vector<double> ours, floor;
    for (int i = 0; i < runs; ++i) {
        const double ms = RunOnce(QCoreApplication::applicationFilePath(), {"--child"});
        const double floorMs = RunOnce(QStringLiteral(KESTRANI_STARTUP_FLOOR), {});
        if (ms < 0 || floorMs < 0) {
            std::fprintf(stderr, "bench_startup: a child did not start\n");
            return 1;
        }
        ours.push_back(ms);
        floor.push_back(floorMs);
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    std::printf("start-up to first painted window, %s, median of %d runs each (min..max):\n",
                platform.constData(), runs);
    std::printf("  Kestrani          %6.1f ms (%.1f..%.1f)\n", Median(ours),
                *std::min_element(ours.begin(), ours.end()),
                *std::max_element(ours.begin(), ours.end()));
    std::printf("  plain Qt window   %6.1f ms (%.1f..%.1f)\n", Median(floor),
                *std::min_element(floor.begin(), floor.end()),
                *std::max_element(floor.begin(), floor.end()));
    std::printf("  difference        %6.1f ms (goal: within 20 ms)\n",
                Median(ours) - Median(floor));
    std::printf("last run of Kestrani, ms after main():");
    for (const QByteArray &line : lastPhases.split('\n')) {
        if (line.startsWith("phase "))
            std::printf(" %s", line.mid(6).replace(' ', '=').constData());
    }
    std::printf("\n");
    return 0;
}
