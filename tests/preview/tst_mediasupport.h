// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the preview tests: the real ffmpeg and ffprobe as the independent reference, clips
// generated into temporary folders, and a picture comparison.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace mediatest {

inline QString MediaFile(const QString &name)
{
    return QStringLiteral(KESTRANI_MEDIA_DIR "/") + name;
}

inline QByteArray Run(const QString &program, const QStringList &args, bool *ok = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    const bool finished = process.waitForFinished(60000);
    const QByteArray out = process.readAllStandardOutput();
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return out;
}

// The format duration ffprobe reports, or nothing when it reads no duration.
inline std::optional<double> ProbeDuration(const QString &file)
{
    bool ok = false;
    const QByteArray out = Run(
        "ffprobe",
        {"-v", "error", "-show_entries", "format=duration", "-of", "default=nw=1:nk=1", file}, &ok);
    bool number = false;
    const double value = out.trimmed().toDouble(&number);
    if (!ok || !number)
        return std::nullopt;
    return value;
}

inline double ProbeStartTime(const QString &file)
{
    const QByteArray out = Run("ffprobe", {"-v", "error", "-show_entries", "format=start_time",
                                           "-of", "default=nw=1:nk=1", file});
    return out.trimmed().toDouble(); // "N/A" reads as 0, which is what it means
}

// Presentation times of every video frame, in seconds from the file's start time, sorted.
inline std::vector<double> FrameTimes(const QString &file)
{
    const QByteArray out =
        Run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                        "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    const double origin = ProbeStartTime(file);
    std::vector<double> times;
    for (const QByteArray &line : out.split('\n')) {
        bool ok = false;
        // The time is the first field; side data may follow on the same row.
        const double t = line.split(',').value(0).trimmed().toDouble(&ok);
        if (ok)
            times.push_back(t - origin);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// The start of the frame interval that contains `seconds`.
inline double IntervalStart(const std::vector<double> &times, double seconds)
{
    double start = times.empty() ? 0.0 : times.front();
    for (double t : times) {
        if (t <= seconds + 1e-6)
            start = t;
    }
    return start;
}

// A time for ffmpeg's seek that selects the frame starting at `frameStart`: half-way back to the
// frame before. ffmpeg keeps the first frame at or after its seek time, and its own time origin
// may differ from the format's start time by a few milliseconds.
inline double SeekBefore(const std::vector<double> &times, double frameStart)
{
    double previous = -1.0;
    for (double t : times) {
        if (t < frameStart - 1e-6)
            previous = t;
    }
    return previous < 0.0 ? 0.0 : (previous + frameStart) / 2.0;
}

// The picture ffmpeg decodes at a frame start, scaled to `size` after its own rotation, as 32-bit
// RGB. The seek is on the output side: ffmpeg decodes from the beginning and drops what comes
// before, which stays exact where a demuxer seek lands late (MPEG program streams do).
inline QImage FfmpegFrame(const QString &file, double seek, QSize size)
{
    const QByteArray raw = Run(
        "ffmpeg", {"-v", "error", "-i", file, "-ss", QString::number(seek, 'f', 6), "-frames:v",
                   "1", "-an", "-vsync", "0", "-vf",
                   QStringLiteral("scale=%1:%2:flags=bicubic").arg(size.width()).arg(size.height()),
                   "-pix_fmt", "bgra", "-f", "rawvideo", "-"});
    if (raw.size() != qsizetype(size.width()) * size.height() * 4)
        return {};
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        memcpy(image.scanLine(y), raw.constData() + qsizetype(y) * size.width() * 4,
               size_t(size.width()) * 4);
    return image;
}

inline double Psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0.0;
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(pa[x]) - qRed(pb[x]);
            const int dg = qGreen(pa[x]) - qGreen(pb[x]);
            const int db = qBlue(pa[x]) - qBlue(pb[x]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse <= 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// An H.264 clip with a moving test picture and a tone: 25 frames a second, B-frames, key frames
// `gop` frames apart, so most times are far from a key frame.
inline QString MakeClip(const QDir &dir, const QString &name, QSize size, double seconds, int gop,
                        bool withSound = true)
{
    const QString file = dir.filePath(name);
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=%3")
                         .arg(size.width())
                         .arg(size.height())
                         .arg(seconds)};
    if (withSound)
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds);
    args << "-c:v"
         << "libx264"
         << "-preset"
         << "veryfast"
         << "-g" << QString::number(gop) << "-keyint_min" << QString::number(gop) << "-sc_threshold"
         << "0"
         << "-pix_fmt"
         << "yuv420p";
    if (withSound)
        args << "-c:a"
             << "aac"
             << "-b:a"
             << "64k";
    args << file;
    bool ok = false;
    Run("ffmpeg", args, &ok);
    return ok ? file : QString();
}

inline bool WriteFile(const QString &file, const QByteArray &bytes)
{
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace mediatest
