// The page's show-at sequence (Stop, CloseClip, OpenClip, Play, Pause) on generated 720p and
// 1080p H.264 files with key frames 10 s apart, at times far from a key frame. Prints the
// milliseconds until the exact frame is on screen.

#include "videoedit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString MakeClip(const QDir &dir, int width, int height)
{
    const QString file = dir.filePath(QStringLiteral("clip%1.mp4").arg(height));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=12").arg(width).arg(height),
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=duration=12",
                  "-c:v",
                  "libx264",
                  "-preset",
                  "veryfast",
                  "-g",
                  "250",
                  "-keyint_min",
                  "250",
                  "-sc_threshold",
                  "0",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  file});
    ffmpeg.waitForFinished(300000);
    return ffmpeg.exitCode() == 0 ? file : QString();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir temp;
    CVideoEdit edit;
    edit.resize(CVideoEdit::previewWidth, CVideoEdit::previewHeight);
    edit.show();
    std::printf("%-6s %-8s %10s %10s %10s\n", "clip", "time s", "median ms", "min ms", "max ms");
    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080)}) {
        const QString file = MakeClip(QDir(temp.path()), size.width(), size.height());
        if (file.isEmpty()) {
            std::printf("ffmpeg could not make the %dp clip\n", size.height());
            return 1;
        }
        // Key frames at 0 and 10 s: 9.9 s is 247 frames past one, 4.9 s is 122.
        for (double at : {4.9, 9.9}) {
            std::vector<double> ms;
            for (int round = 0; round < 7; ++round) {
                QElapsedTimer timer;
                timer.start();
                const double length = edit.GetClipLength(file);
                edit.Stop();
                edit.CloseClip();
                edit.OpenClip(file, at, length, 1);
                edit.Play();
                edit.Pause();
                ms.push_back(timer.nsecsElapsed() / 1e6);
                QCoreApplication::processEvents();
            }
            std::printf("%-6s %-8.1f %10.1f %10.1f %10.1f\n",
                        qPrintable(QStringLiteral("%1p").arg(size.height())), at, Median(ms),
                        *std::min_element(ms.begin(), ms.end()),
                        *std::max_element(ms.begin(), ms.end()));
        }
    }
    return 0;
}
