// SPDX-License-Identifier: GPL-3.0-or-later
// Event-loop latency of the window while a batch runs: the batch runs in the window's event
// loop beside everything else, so a timer that should fire every 5 ms shows how long the window
// can go without answering. The batch converts a generated clip with the
// shipped 3GP + AAC default profile.
//   bench_batchlatency [seconds of clip]      (default 20; QT_QPA_PLATFORM default offscreen)

#include "conversionengine.h"
#include "globals.h"
#include "kestraniframedlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString MakeClip(const QString &folder, int seconds)
{
    const QString path = QDir(folder).filePath(QStringLiteral("bench clip.mp4"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                            "testsrc2=size=640x480:rate=30", "-f", "lavfi", "-i",
                                            "sine=frequency=440:sample_rate=44100", "-t",
                                            QString::number(seconds), "-pix_fmt", "yuv420p", path});
    ffmpeg.waitForFinished(120000);
    return ffmpeg.exitCode() == 0 ? path : QString();
}

} // namespace

int main(int argc, char **argv)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 20;
    QTemporaryDir dir;
    // Settings of its own: the bench neither reads nor changes the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
    QDir().mkpath(dir.filePath("out"));
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani", "Kestrani")
        .setValue("destination/Default", dir.filePath("out"));
    programFolder = QStringLiteral(KESTRANI_PROGRAM_DIR "/");
    const QString clip = MakeClip(dir.path(), seconds);
    if (clip.isEmpty()) {
        std::fprintf(stderr, "bench_batchlatency: ffmpeg could not make the clip\n");
        return 1;
    }

    CKestraniFrameDlg frame;
    frame.OnInitDialog();
    frame.show();
    CKestraniDlg &page = frame.Page();
    qobject_cast<QComboBox *>(page.GetDlgItem(1061))->setCurrentIndex(1);
    page.AddFiles({clip});

    // The closing message box would wait for a person: accept it as soon as it shows.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->accept();
    });
    closer.start(50);

    constexpr int interval = 5;
    std::vector<double> late;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (page.IsConverting() && last > 0)
            late.push_back(qMax(0.0, (now - last) / 1e6 - interval));
        last = now;
    });
    clock.start();
    tick.start(interval);
    QElapsedTimer batch;
    batch.start();
    QEventLoop loop;
    QObject::connect(&page.Engine(), &ConversionEngine::batchEnded, &loop, &QEventLoop::quit);
    page.OnStartClicked(); // returns at once
    if (page.IsConverting())
        loop.exec();
    const double batchSeconds = batch.elapsed() / 1000.0;
    tick.stop();

    if (late.empty()) {
        std::fprintf(stderr, "bench_batchlatency: the batch served no events\n");
        return 1;
    }
    std::sort(late.begin(), late.end());
    const auto at = [&](double q) { return late[size_t(q * (late.size() - 1))]; };
    std::printf("event-loop latency while a batch runs (%d s 640x480 clip, batch %.1f s, "
                "%zu ticks): median %.2f ms, p99 %.2f ms, max %.2f ms (goal < 50 ms)\n",
                seconds, batchSeconds, late.size(), at(0.5), at(0.99), late.back());
    return 0;
}
