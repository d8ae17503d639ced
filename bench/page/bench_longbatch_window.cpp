// SPDX-License-Identifier: GPL-3.0-or-later
// A long batch through the window (offscreen): many short clips (links to one small clip)
// added and converted in one batch. Printed: how many tasks finished, the wall time, this
// process's resident memory (VmRSS) once the tasks are in, at 10 %, 50 % and 90 % of them and
// at the end, its peak (VmHWM), and how responsive the window stayed: the gaps between the
// ticks of a 10 ms timer while the batch ran (median, 99th percentile, largest).
//
//   bench_longbatch_window [COUNT [TYPE]]   (default: 500 clips, type 1, its first profile)
#include "conversionengine.h"
#include "globals.h"
#include "kestranidlg.h"
#include "kestraniframedlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

qint64 StatusField(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
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
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.value(1, "500").toInt();
    const int type = args.value(2, "1").toInt();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    const QString clip = dir.filePath("clip.mp4");
    const QString out = dir.filePath("out");
    if (!dir.isValid() || !MakeClip(clip) || !QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot make the clips\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files.append(dir.filePath(QStringLiteral("clip%1.mp4").arg(i, 4, 10, QLatin1Char('0'))));
        QFile::link(clip, files.last());
    }
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani", "Kestrani")
        .setValue("destination/Default", out);
    programFolder = WithTrailingSeparator(QStringLiteral(KESTRANI_PROGRAM_DIR));

    CKestraniFrameDlg frame;
    frame.OnInitDialog();
    frame.show();
    CKestraniDlg &page = frame.Page();
    qobject_cast<QComboBox *>(page.GetDlgItem(1061))->setCurrentIndex(type);
    qobject_cast<QListWidget *>(page.GetDlgItem(1065))->setCurrentRow(0);
    page.AddFiles(files);
    QApplication::processEvents();
    const qint64 rssStart = StatusField("VmRSS:");

    // The ticks of a fine timer while the batch runs; the message box at its end is accepted.
    QList<qint64> gaps;
    QList<qint64> rssAt(count, -1);
    int started = 0;
    QElapsedTimer tick;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (tick.isValid())
            gaps.append(tick.restart());
        else
            tick.start();
        // Tasks start in list order: the first not started yet tells how far the batch got.
        while (started < count && page.Tasks().GetAt(started).state != TASK_IDLE)
            rssAt[started++] = StatusField("VmRSS:");
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                box->accept();
    });
    probe.start();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&page.Engine(), &ConversionEngine::batchEnded, &loop, &QEventLoop::quit);
    page.OnStartClicked(); // returns at once
    if (page.IsConverting())
        loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    probe.stop();
    const qint64 rssEnd = StatusField("VmRSS:");

    int finished = 0;
    for (int i = 0; i < page.Tasks().Count(); ++i)
        finished += page.Tasks().GetAt(i).finished == 1 ? 1 : 0;
    std::sort(gaps.begin(), gaps.end());
    const auto gap = [&](double share) {
        return gaps.isEmpty() ? 0 : gaps.at(qMin(gaps.size() - 1, qsizetype(gaps.size() * share)));
    };
    const auto at = [&](int percent) {
        return rssAt.value(qBound(0, count * percent / 100, count - 1));
    };
    std::printf("window (offscreen), %d clips of 0.5 s, type %d, first profile\n", count, type);
    std::printf("  finished %d of %d, %.1f s (%.0f ms per task)\n", finished, count, seconds,
                seconds * 1000.0 / qMax(1, count));
    std::printf("  VmRSS kB: tasks added %lld, 10%% %lld, 50%% %lld, 90%% %lld, end %lld; "
                "VmHWM %lld\n",
                rssStart, at(10), at(50), at(90), rssEnd, StatusField("VmHWM:"));
    std::printf(
        "  10 ms timer gaps during the batch: median %lld ms, 99%% %lld ms, largest %lld ms "
        "(%lld ticks)\n",
        gap(0.5), gap(0.99), gaps.isEmpty() ? 0 : gaps.last(), qint64(gaps.size()));
    frame.close();
    return finished == count ? 0 : 1;
}
