// SPDX-License-Identifier: GPL-3.0-or-later
// The page's show-at sequence (GetClipLength, Stop, CloseClip, OpenClip, Play, Pause) on
// generated 720p and 1080p H.264 files with key frames 10 s apart. Prints the milliseconds until
// the exact frame is on screen for the ways a user reaches it:
//   cold       a widget that has not shown the file yet, at a time far from a key frame
//   step       slider releases 0.5 s apart going forward (the decoder goes on from where it is)
//   same       the same time again (the frame on screen is reused)
//   back       jumps backwards (a seek and decoding from the key frame, but no probing)
//   over a key a jump forward over a key frame, far beyond it (a seek as well)
// Usage: bench_videoedit_showclipat [rounds]   (default 5)

#include "videoedit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
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
                  QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=16").arg(width).arg(height),
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=duration=16",
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

struct Figures {
    std::vector<double> ms;

    void Print(const char *clip, const char *what) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        std::printf("%-6s %-34s %5zu %10.1f %10.1f %10.1f\n", clip, what, sorted.size(),
                    sorted[sorted.size() / 2], sorted.front(), sorted.back());
    }
};

double ShowClipAt(CVideoEdit &edit, const QString &file, double at)
{
    QElapsedTimer timer;
    timer.start();
    const double length = edit.GetClipLength(file);
    edit.Stop();
    edit.CloseClip();
    edit.OpenClip(file, at <= length ? at : 1.0, length, 1);
    edit.Play();
    edit.Pause();
    const double ms = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents(); // what the page's event loop would do between releases
    return ms;
}

std::unique_ptr<CVideoEdit> NewWidget()
{
    auto edit = std::make_unique<CVideoEdit>();
    edit->resize(CVideoEdit::previewWidth, CVideoEdit::previewHeight);
    edit->show();
    return edit;
}

void Measure(const QString &file, const char *clip, int rounds)
{
    // Key frames at 0 and 10 s: 4.9 s is 122 frames past one, 9.9 s is 247.
    for (double at : {4.9, 9.9}) {
        Figures cold;
        for (int round = 0; round < rounds; ++round)
            cold.ms.push_back(ShowClipAt(*NewWidget(), file, at));
        cold.Print(clip, qPrintable(QStringLiteral("cold at %1 s").arg(at)));
    }
    Figures step, same, backNear, pastKey, backFar;
    for (int round = 0; round < rounds; ++round) {
        const std::unique_ptr<CVideoEdit> edit = NewWidget();
        ShowClipAt(*edit, file, 1.0);
        for (double at = 1.5; at < 9.9; at += 0.5)
            step.ms.push_back(ShowClipAt(*edit, file, at));
        same.ms.push_back(ShowClipAt(*edit, file, 9.5));
        backNear.ms.push_back(ShowClipAt(*edit, file, 4.9));
        pastKey.ms.push_back(ShowClipAt(*edit, file, 14.9));
        backFar.ms.push_back(ShowClipAt(*edit, file, 9.9));
    }
    step.Print(clip, "step 0.5 s forward, 1.5..9.5 s");
    same.Print(clip, "same time again, 9.5 s");
    backNear.Print(clip, "back 9.5 -> 4.9 s");
    pastKey.Print(clip, "forward over a key, 4.9 -> 14.9 s");
    backFar.Print(clip, "back 14.9 -> 9.9 s");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int rounds = std::max(1, argc > 1 ? QByteArray(argv[1]).toInt() : 5);
    QTemporaryDir temp;
    std::printf("%-6s %-34s %5s %10s %10s %10s\n", "clip", "show-at", "n", "median ms", "min ms",
                "max ms");
    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080)}) {
        const QString file = MakeClip(QDir(temp.path()), size.width(), size.height());
        if (file.isEmpty()) {
            std::printf("ffmpeg could not make the %dp clip\n", size.height());
            return 1;
        }
        Measure(file, qPrintable(QStringLiteral("%1p").arg(size.height())), rounds);
    }
    return 0;
}
