// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every test program needs: temporary folders, files, processes, the real tools run and
// waited for, clips made by ffmpeg (once per test program), and independent readings of media
// files by ffprobe, mediainfo and ffmpeg itself. Header-only, Qt only.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace support {

// ---- folders and files ----

// A new, empty folder in `dir` at each call: "out1", "out2" ...
inline QString NewFolder(const QTemporaryDir &dir, int &count,
                         const QString &prefix = QStringLiteral("out"))
{
    const QString folder = dir.filePath(prefix + QString::number(++count));
    QDir().mkpath(folder);
    return folder;
}

// The files of a folder, sorted, hidden ones included.
inline QStringList FilesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

inline QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Permission bits of a path, 0 when it cannot be read.
inline mode_t ModeOf(const QString &path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// ---- processes ----

inline QList<int> ProcessIds()
{
    QList<int> ids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (isPid && pid != ::getpid())
            ids.append(pid);
    }
    return ids;
}

// Processes whose parent is this test: the tools the engine started and has not reaped.
inline QList<int> ChildProcesses()
{
    QList<int> children;
    const QByteArray self = QByteArray::number(::getpid());
    for (int pid : ProcessIds()) {
        const QByteArray text = Contents(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self)
            children.append(pid);
    }
    return children;
}

// Live processes anywhere on the machine whose command line names `text` (a folder, a tag).
inline QStringList ProcessesUsing(const QString &text)
{
    QStringList found;
    for (int pid : ProcessIds()) {
        if (Contents(QStringLiteral("/proc/%1/stat").arg(pid)).contains(") Z "))
            continue; // ended, waiting to be reaped
        const QByteArray cmdline = Contents(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.contains(text.toUtf8()))
            found.append(QString::fromUtf8(cmdline).replace(QChar(0), QLatin1Char(' ')));
    }
    return found;
}

// ---- tools ----

struct ToolResult {
    bool started = false;
    int exitCode = -1; // -1 also when the tool crashed or did not end in time
    QByteArray out, err;
    bool ok() const { return exitCode == 0; }
};

// Runs a program to its end; `input` is written to its standard input, which is then closed.
inline ToolResult RunTool(const QString &program, const QStringList &arguments,
                          int timeoutMs = 120000, const QByteArray &input = {},
                          const QString &workingFolder = {})
{
    ToolResult result;
    QProcess process;
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    result.started = process.waitForStarted(10000);
    if (!result.started)
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    else
        process.kill(), process.waitForFinished();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// ---- clips ----

// A clip of ffmpeg's moving test picture, with a 440 Hz tone unless `sound` is false.
struct Clip {
    QString size = QStringLiteral("176x144");
    double seconds = 2.0;
    QString rate = QStringLiteral("25");
    bool sound = true;
    int gop = 25;                            // key frames this many frames apart
    QString video = QStringLiteral("mpeg4"); // or libx264, h263, ...
    QString audio = QStringLiteral("aac");   // or libopencore_amrnb, ...
    int sampleRate = 44100;
    QString sar = {};       // pixel shape, e.g. "2/1"
    int rotate = 0;         // degrees, as a phone marks its clips
    QStringList extra = {}; // more output options, before the file

    QString Key(const QString &name) const
    {
        return (QStringList() << size << QString::number(seconds) << rate << QString::number(sound)
                              << QString::number(gop) << video << audio
                              << QString::number(sampleRate) << sar << QString::number(rotate)
                              << extra.join(u'|') << name)
            .join(u'/');
    }
};

// Makes the clip at `path` (the container follows the extension); the path, or empty on failure.
inline QString MakeClip(const QString &path, const Clip &clip = {})
{
    const auto words = [](const QString &text) { return text.split(u' '); }; // none hold blanks
    QStringList args =
        words(QStringLiteral("-nostdin -v error -y -f lavfi -i testsrc2=size=%1:rate=%2")
                  .arg(clip.size, clip.rate));
    if (clip.sound)
        args << words(
            QStringLiteral("-f lavfi -i sine=frequency=440:sample_rate=%1").arg(clip.sampleRate));
    args << words(
        QStringLiteral("-t %1 -c:v %2 -g %3 -pix_fmt yuv420p")
            .arg(QString::number(clip.seconds, 'f', 3), clip.video, QString::number(clip.gop)));
    if (clip.video == QLatin1String("libx264"))
        args << words(
            QStringLiteral("-preset veryfast -keyint_min %1 -sc_threshold 0").arg(clip.gop));
    else if (clip.video == QLatin1String("mpeg4"))
        args << words(QStringLiteral("-q:v 4"));
    if (!clip.sar.isEmpty())
        args << words(QStringLiteral("-vf setsar=") + clip.sar);
    if (clip.sound)
        args << words(QStringLiteral("-c:a %1 -ar %2").arg(clip.audio).arg(clip.sampleRate));
    // ffmpeg marks a rotation only when it copies the stream: a second step does that.
    const QString encoded = clip.rotate ? path + QStringLiteral(".unrotated.mp4") : path;
    args << clip.extra << "file:" + encoded;
    if (!RunTool(QStringLiteral("ffmpeg"), args).ok())
        return QString();
    if (clip.rotate) {
        const bool ok =
            RunTool(QStringLiteral("ffmpeg"),
                    {"-nostdin", "-v", "error", "-y", "-i", "file:" + encoded, "-c", "copy",
                     "-metadata:s:v:0", "rotate=" + QString::number(clip.rotate), "file:" + path})
                .ok();
        QFile::remove(encoded);
        return ok ? path : QString();
    }
    return path;
}

// The same clip made once per test program, in a folder that lives as long as the program:
// tests that only read a clip share it. `name` is its file name (and so its container).
inline QString SharedClip(const Clip &clip = {}, const QString &name = QStringLiteral("clip.mp4"))
{
    static QTemporaryDir folder;
    static QHash<QString, QString> made;
    const QString key = clip.Key(name);
    if (!made.contains(key)) {
        const QString sub = folder.filePath(QString::number(made.size()));
        QDir().mkpath(sub);
        made.insert(key, MakeClip(sub + u'/' + name, clip));
    }
    return made.value(key);
}

// A real sample video of tests/media (its SOURCES.md says where each comes from).
inline QString MediaFile(const QString &name)
{
    return QStringLiteral(KESTRANI_MEDIA_DIR "/") + name;
}

// ---- reading media back ----

// ffprobe's view of a file: format and streams as JSON; empty when unreadable.
inline QJsonObject Probe(const QString &path)
{
    return QJsonDocument::fromJson(
               RunTool("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json",
                                   "file:" + path})
                   .out)
        .object();
}

// The first stream of a type ("video", "audio") in a probe.
inline QJsonObject StreamOf(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &s : probe["streams"].toArray())
        if (s["codec_type"].toString() == type)
            return s.toObject();
    return {};
}

inline int StreamCount(const QJsonObject &probe, const QString &type)
{
    int n = 0;
    for (const QJsonValue &s : probe["streams"].toArray())
        n += s["codec_type"].toString() == type;
    return n;
}

inline double Duration(const QJsonObject &probe)
{
    return probe["format"]["duration"].toString().toDouble();
}

inline QString Brand(const QJsonObject &probe)
{
    return probe["format"]["tags"]["major_brand"].toString();
}

// One field of mediainfo's General section, e.g. "Movie name" or "Codec ID".
inline QString MediaInfoGeneral(const QString &path, const QString &field)
{
    // Only the line end goes: blanks belong to the value.
    return QString::fromUtf8(RunTool("mediainfo", {"--Inform=General;%" + field + "%", path}).out)
        .remove(QRegularExpression("[\r\n]+$"));
}

// Presentation times of every video frame, in seconds from the file's start time, sorted.
inline std::vector<double> FrameTimes(const QString &file)
{
    // None (ffprobe's "N/A") reads as 0, which is what it means.
    const double origin = Probe(file).value("format")["start_time"].toString().toDouble();
    const QByteArray out =
        RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "frame=best_effort_timestamp_time", "-of", "csv=p=0", file})
            .out;
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
    for (double t : times)
        if (t <= seconds + 1e-6)
            start = t;
    return start;
}

// The picture ffmpeg decodes for the frame starting at `frameStart`, scaled to `size` after
// its own rotation, as 32-bit RGB. The seek goes half-way back to the frame before (ffmpeg
// keeps the first frame at or after its seek time) and on the output side, which stays exact
// where a demuxer seek lands late (MPEG program streams do).
inline QImage FfmpegFrame(const QString &file, const std::vector<double> &times, double frameStart,
                          QSize size)
{
    double previous = -1.0;
    for (double t : times)
        if (t < frameStart - 1e-6)
            previous = t;
    const double seek = previous < 0.0 ? 0.0 : (previous + frameStart) / 2.0;
    const QByteArray raw =
        RunTool("ffmpeg",
                {"-v", "error", "-i", file, "-ss", QString::number(seek, 'f', 6), "-frames:v", "1",
                 "-an", "-vsync", "0", "-vf",
                 QStringLiteral("scale=%1:%2:flags=bicubic").arg(size.width()).arg(size.height()),
                 "-pix_fmt", "bgra", "-f", "rawvideo", "-"})
            .out;
    if (raw.size() != qsizetype(size.width()) * size.height() * 4)
        return {};
    return QImage(reinterpret_cast<const uchar *>(raw.constData()), size.width(), size.height(),
                  QImage::Format_RGB32)
        .copy();
}

// Peak signal-to-noise ratio of two pictures of one size, in dB; 0 when they cannot be compared.
inline double Psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0.0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0.0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *pa = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *pb = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int dr = qRed(pa[col]) - qRed(pb[col]);
            const int dg = qGreen(pa[col]) - qGreen(pb[col]);
            const int db = qBlue(pa[col]) - qBlue(pb[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse <= 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace support
