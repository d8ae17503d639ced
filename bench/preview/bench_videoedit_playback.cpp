// SPDX-License-Identifier: GPL-3.0-or-later
// Real-time playback of a generated 720p H.264 clip with sound: CPU time used per second of
// playback, frames shown and dropped.

#include "videoedit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString file = QDir(temp.path()).filePath("clip720.mp4");
    constexpr double seconds = 8.0;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  QStringLiteral("testsrc2=size=1280x720:rate=30:duration=%1").arg(seconds),
                  "-f",
                  "lavfi",
                  "-i",
                  QStringLiteral("sine=duration=%1").arg(seconds),
                  "-c:v",
                  "libx264",
                  "-preset",
                  "veryfast",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  file});
    ffmpeg.waitForFinished(300000);
    if (ffmpeg.exitCode() != 0) {
        std::printf("ffmpeg could not make the clip\n");
        return 1;
    }
    CVideoEdit edit;
    edit.resize(CVideoEdit::previewWidth, CVideoEdit::previewHeight);
    edit.show();
    QEventLoop loop;
    QObject::connect(&edit, &CVideoEdit::PlaybackFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    const double length = edit.GetClipLength(file);
    edit.CloseClip();
    edit.OpenClip(file, 0.0, length, 1);
    edit.SetClipRange(file, 0.0, length);
    const double cpuBefore = CpuSeconds();
    const int shownBefore = edit.FramesShown();
    QElapsedTimer wall;
    wall.start();
    edit.Play();
    loop.exec(); // sleeps between events, so the figure is the playback's own cost
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("clip 1280x720 30 fps, %.1f s, sound %s\n", length,
                "decoded only where a device exists");
    std::printf("wall %.2f s, cpu %.2f s = %.0f %% of one core\n", elapsed, cpu,
                100.0 * cpu / elapsed);
    std::printf("frames shown %d, dropped %d (of %d)\n", edit.FramesShown() - shownBefore,
                edit.FramesDropped(), int(length * 30 + 0.5) - 1);
    return 0;
}
