// SPDX-License-Identifier: GPL-3.0-or-later
// Time from process start to the first painted window: this program starts itself again as
// the child that does the real start-up (application object, program folder, skin, frame with
// its page and profiles), and the child reports when the page has been painted once. The time
// includes creating the process, loading the libraries and the platform plug-in.
//   bench_startup [runs]        (default 10; QT_QPA_PLATFORM picks the display, default offscreen)

#include "kestraniapp.h"
#include "kestraniframedlg.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QElapsedTimer sinceMain;

void Phase(const char *name)
{
    std::printf("phase %s %.1f\n", name, sinceMain.nsecsElapsed() / 1e6);
}

class FirstPaintWatch : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            // Report after the paint has been done, not when it is about to begin.
            QTimer::singleShot(0, qApp, [] {
                Phase("painted");
                std::puts("painted");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen = false;
};

int RunChild(int argc, char **argv)
{
    sinceMain.start();
    CKestraniApp app(argc, argv);
    Phase("application");
    CKestraniApp::PrepareProcess(QStringLiteral(KESTRANI_PROGRAM_DIR));
    Phase("skin");
    CKestraniFrameDlg frame;
    Phase("controls");
    FirstPaintWatch watch;
    frame.Page().installEventFilter(&watch);
    frame.OnInitDialog();
    Phase("initialisation");
    frame.show();
    Phase("shown");
    return app.exec();
}

// The time of each start-up phase of the last run, from the child's main().
QByteArray lastPhases;

double RunOnce(const QString &self)
{
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(self, {QStringLiteral("--child")});
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
    lastPhases = output;
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = RunOnce(QCoreApplication::applicationFilePath());
        if (ms < 0) {
            std::fprintf(stderr, "bench_startup: the child did not start\n");
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to first painted window (%s, %d runs): min %.1f ms, median %.1f ms, "
                "max %.1f ms (goal < 300 ms)\n",
                qgetenv("QT_QPA_PLATFORM").constData(), runs, times.front(),
                times[times.size() / 2], times.back());
    std::printf("last run, ms after main():");
    for (const QByteArray &line : lastPhases.split('\n')) {
        if (line.startsWith("phase "))
            std::printf(" %s", line.mid(6).replace(' ', '=').constData());
    }
    std::printf("\n");
    return 0;
}
