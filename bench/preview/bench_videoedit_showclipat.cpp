// SPDX-License-Identifier: GPL-3.0-or-later
// The page's show-at sequence (GetClipLength, Stop, CloseClip, OpenClip, Play, Pause) on
// generated 720p and 1080p H.264 files with key frames 10 s apart. Prints the milliseconds until
// the exact frame is on screen for the ways a user reaches it:
//   cold       a widget that has not shown the file yet, at a time far from a key frame
//   step       slider releases 0.5 s apart going forward (the decoder goes on from where it is)
//   same       the same time again (the frame on screen is reused)
//   back       jumps backwards (a seek and decoding from the key frame, but no probing)
//   over a key a jump forward over a key frame, far beyond it (a seek as well)
// Then what a drag costs: the key-frame picture shown on every step of a thumb dragged across
// the clip and back (median and worst step; the worst includes opening the file for key frames),
// the exact frame at 9.9 s cold (a new widget) and warm (the file open, a seek back from 14.9 s),
// a release on the other trim point (its kept picture), how soon a resting drag shows the exact
// picture and what the release after that rest costs, each beside the time of
// `ffmpeg -ss 9.9 -i clip -frames:v 1 -f null -` on the same clip, with the ratio.
// Goals: drag steps under 30 ms at 720p and 60 ms at 1080p; the exact frame in at most half the
// ffmpeg command's time.
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

    double Median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double Worst() const { return *std::max_element(ms.begin(), ms.end()); }

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

double FfmpegFrameAt(const QString &file, double at)
{
    QElapsedTimer timer;
    timer.start();
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-ss", QString::number(at), "-i", file, "-frames:v", "1",
                            "-f", "null", "-"});
    ffmpeg.waitForFinished(60000);
    return timer.nsecsElapsed() / 1e6;
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

// The way a user trims: the task is loaded (shown at 1 s, its begin), the end thumb is dragged
// across the clip and back and released at 9.9 s, then the begin and the end are shown again.
void MeasureDrag(const QString &file, const char *clip, int rounds)
{
    constexpr double at = 9.9;
    Figures drag, fresh, cold, warm, other, settled, rested, ffmpeg;
    for (int round = 0; round < rounds; ++round) {
        ffmpeg.ms.push_back(FfmpegFrameAt(file, at));
        {
            const std::unique_ptr<CVideoEdit> edit = NewWidget();
            cold.ms.push_back(ShowClipAt(*edit, file, at));
        }
        const std::unique_ptr<CVideoEdit> edit = NewWidget();
        ShowClipAt(*edit, file, 1.0);
        // A step every 0.15 s of clip time.
        for (int step = 0; step <= 200; ++step) {
            const double t = step <= 100 ? step * 0.15 : (200 - step) * 0.15;
            const int decoded = edit->StillsDecoded();
            QElapsedTimer timer;
            timer.start();
            edit->ShowKeyFrameNear(t);
            const double ms = timer.nsecsElapsed() / 1e6;
            drag.ms.push_back(ms);
            if (edit->StillsDecoded() != decoded)
                fresh.ms.push_back(ms);
            QCoreApplication::processEvents();
        }
        warm.ms.push_back(ShowClipAt(*edit, file, at));
        other.ms.push_back(ShowClipAt(*edit, file, 1.0));
        other.ms.push_back(ShowClipAt(*edit, file, at));
        // The thumb rests at 12.3 s before the release: the exact picture comes on its own.
        edit->ShowKeyFrameNear(12.3);
        const double key = edit->CurrentPosition();
        QElapsedTimer resting;
        resting.start();
        while (edit->CurrentPosition() == key && resting.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        settled.ms.push_back(resting.nsecsElapsed() / 1e6);
        rested.ms.push_back(ShowClipAt(*edit, file, 12.3));
    }
    const double goal = QByteArray(clip) == "720p" ? 30.0 : 60.0;
    const auto line = [&](const char *what, const Figures &f) {
        std::printf("%-6s %-34s %5zu %10.1f %10s %10.1f", clip, what, f.ms.size(), f.Median(), "",
                    f.Worst());
    };
    line("drag step, every step", drag);
    std::printf("  goal < %.0f ms\n", goal);
    line("drag step, key frame not yet kept", fresh);
    std::printf("  goal < %.0f ms\n", goal);
    const double reference = ffmpeg.Median();
    line("ffmpeg -ss 9.9 -i clip -frames:v 1", ffmpeg);
    std::printf("\n");
    const auto ratio = [&](const char *what, const Figures &f) {
        line(what, f);
        std::printf("  %.2f x ffmpeg (goal <= 0.50)\n", f.Median() / reference);
    };
    ratio("exact at 9.9 s, cold (new widget)", cold);
    ratio("exact at 9.9 s, release after drag", warm);
    ratio("other trim point again (kept)", other);
    line("drag rests: exact picture after", settled);
    std::printf("  (rest of %d ms, then decoded aside)\n", 150);
    ratio("release after the rest, 12.3 s", rested);
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
        const QByteArray clip = QStringLiteral("%1p").arg(size.height()).toLatin1();
        Measure(file, clip.constData(), rounds);
        MeasureDrag(file, clip.constData(), rounds);
    }
    return 0;
}
