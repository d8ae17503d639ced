// SPDX-License-Identifier: GPL-3.0-or-later
// Burned-in subtitles, as a phone shows them. kestrani-cli converts generated videos of 30 s
// with a subtitle file of ordinary sentences beside them; tesseract reads each output frame
// at the middle of every shown line pair back. Printed: the share of words read at 176x144
// and 128x96 per profile and picture; the processor time of each conversion (kestrani-cli and
// its tools) with subtitles against without, and of the whole batch also its wall time; the
// first and last frame of each cue against its times after a trim.
//
//   bench_subtitles [SECONDS]   (default 30: the length of each generated video)
//
// Needs tesseract-ocr (tools/install-deps). The frames are read as the eye sees white letters:
// the band the lines take at the bottom, stretched to the shown width, scaled 4x, each pixel
// as white as its lowest colour channel less its colourfulness, so that pale picture is not
// taken for letters.
#include "enginepaths.h"
#include "profiles/profilecatalog.h"
#include "subtitles/burninscript.h"
#include "subtitles/subtitleaddon.h"
#include "subtitles/subtitlefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <sys/resource.h>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");

// Twelve sentences over 30 s, about two lines each at 176 pixels.
const char *const sentences[] = {"The train leaves at nine from the old station.",
                                 "Please bring your ticket and a warm coat.",
                                 "We will meet again near the river bridge.",
                                 "Nobody knows where the letter came from.",
                                 "Her brother opened the window slowly.",
                                 "The market closes early on Sunday afternoons.",
                                 "I think it will rain tonight.",
                                 "Turn left after the bakery and walk past the school.",
                                 "She kept every photograph in a small box.",
                                 "Where did you put the keys?",
                                 "The doctor will see you in ten minutes.",
                                 "Thank you for waiting so long."};

struct Run {
    bool ok = false;
    double wall = 0, cpu = 0; // seconds; cpu: the program and every tool it ran
    QByteArray err;
};

Run Execute(const QString &program, const QStringList &arguments, int timeoutMs = 1800000)
{
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    Run run;
    run.ok = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
             process.exitCode() == 0;
    run.wall = clock.elapsed() / 1000.0;
    run.err = process.readAllStandardError();
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
              seconds(before.ru_stime);
    return run;
}

QByteArray StdoutOf(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(600000);
    return process.readAllStandardOutput();
}

QString Srt(const QList<std::pair<double, double>> &times, const QStringList &texts)
{
    const auto time = [](double s) {
        const int ms = int(std::lround(s * 1000));
        return QStringLiteral("%1:%2:%3,%4")
            .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
            .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
            .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
            .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    };
    QString text;
    for (qsizetype i = 0; i < times.size(); ++i)
        text += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                    .arg(i + 1)
                    .arg(time(times[i].first), time(times[i].second), texts[i]);
    return text;
}

QStringList Words(const QString &text)
{
    QString plain = text.toLower();
    plain.replace(QChar(0x2019), u'\'');
    plain.replace(QRegularExpression(QStringLiteral("[^a-z0-9' ]")), QStringLiteral(" "));
    return plain.split(u' ', Qt::SkipEmptyParts);
}

struct Output {
    QString what;
    int type, profile;
};

// Words of each shown line pair that tesseract reads back from the frame at its middle.
void ReadBack(const QString &file, const QString &srt, const Output &output,
              const EnginePaths &paths, double seconds, int &read, int &total)
{
    const std::optional<Profile> profile =
        ProfileCatalog(paths).Load(output.type, output.profile - 1);
    QSize frame;
    double aspect = 1;
    if (!profile || !SubtitleAddOn::OutputFrame(*profile, &frame, &aspect))
        return;
    const BurnInStyle style = BurnInStyle::For(frame, aspect);
    const QList<BurnInScript::Event> events =
        BurnInScript::Events(SubtitleFile::Read(srt).track.Trimmed(0, seconds), style);
    const int band = std::min(frame.height(), style.BlockHeight() + 4);
    const int width = int(std::lround(frame.width() * aspect)) * 4, height = band * 4;
    QTemporaryDir dir;
    for (const BurnInScript::Event &event : events) {
        const QByteArray rgb = StdoutOf(
            "ffmpeg", {"-v", "error", "-ss", QString::number((event.start + event.end) / 2, 'f', 3),
                       "-i", file, "-frames:v", "1", "-vf",
                       QStringLiteral("crop=iw:%1:0:ih-%1,scale=%2:%3:flags=bicubic")
                           .arg(band)
                           .arg(width)
                           .arg(height),
                       "-pix_fmt", "rgb24", "-f", "rawvideo", "-"});
        if (rgb.size() != qsizetype(width) * height * 3)
            continue;
        QByteArray pgm = QStringLiteral("P5\n%1 %2\n255\n").arg(width).arg(height).toLatin1();
        for (qsizetype i = 0; i < rgb.size(); i += 3) {
            const int r = uchar(rgb[i]), g = uchar(rgb[i + 1]), b = uchar(rgb[i + 2]);
            const int lo = std::min({r, g, b}), hi = std::max({r, g, b});
            pgm += char(lo - (hi - lo) > 128 ? 0 : 255); // white letters become black ink
        }
        const QString image = dir.filePath("frame.pgm");
        QFile out(image);
        if (!out.open(QIODevice::WriteOnly) || out.write(pgm) != pgm.size())
            continue;
        out.close();
        QStringList seen =
            Words(QString::fromUtf8(StdoutOf("tesseract", {image, "-", "--psm", "6"})));
        for (const QString &word : Words(event.lines.join(u' '))) {
            ++total;
            if (seen.removeOne(word))
                ++read;
        }
    }
}

// Each cue's first and last shown frame against its times, on a black 16:9 video trimmed from
// 60 s to 70 s: the worst difference in frames.
double Timing(const QString &folder, const Output &output, QString &detail)
{
    const QString video = folder + "/Timing.mp4";
    if (!QFileInfo::exists(video) &&
        !Execute("ffmpeg",
                 {"-v", "error", "-y", "-f", "lavfi", "-i", "color=black:size=640x360:rate=25",
                  "-t", "70", "-c:v", "libx264", "-preset", "ultrafast", video})
             .ok)
        return -1;
    const QList<std::pair<double, double>> times{
        {59.0, 60.7}, {61.23, 62.87}, {65.0, 66.5}, {67.111, 68.333}, {69.4, 71.0}};
    QFile srt(folder + "/Timing.srt");
    if (!srt.open(QIODevice::WriteOnly) ||
        srt.write(Srt(times, {"Before the trim", "First inside", "At sixty-five seconds",
                              "Odd times", "Past the end"})
                      .toUtf8()) <= 0)
        return -1;
    srt.close();
    const QString out =
        folder + QStringLiteral("/timing-%1-%2").arg(output.type).arg(output.profile);
    QDir().mkpath(out);
    if (!Execute(cli, {"-t", QString::number(output.type), "-p", QString::number(output.profile),
                       "-b", "60", "-e", "70", "-o", out, "--subtitles", video})
             .ok)
        return -1;
    const QString file = out + "/Timing.3gp";
    const QByteArray stats = StdoutOf(
        "ffmpeg", {"-v", "error", "-i", file, "-vf",
                   "crop=iw:ih/4:0:ih*3/4,signalstats,metadata=print:key=lavfi.signalstats.YMAX:"
                   "file=-",
                   "-f", "null", "-"});
    QList<std::pair<double, bool>> frames;
    double t = 0;
    for (const QByteArray &line : stats.split('\n')) {
        if (const qsizetype at = line.indexOf("pts_time:"); at >= 0)
            t = line.mid(at + 9).trimmed().toDouble();
        if (const qsizetype at = line.indexOf("YMAX="); at >= 0)
            frames.append({t, line.mid(at + 5).toInt() > 128});
    }
    if (frames.size() < 2)
        return -1;
    const double step = (frames.last().first - frames.first().first) / (frames.size() - 1);
    double worst = 0, firstMin = 1e9, firstMax = -1e9, lastMin = 1e9, lastMax = -1e9;
    for (const auto &[start, end] : times) {
        const double from = std::max(start - 60, 0.0), to = std::min(end - 60, 10.0);
        double first = -1, last = -1;
        for (const auto &[time, shown] : frames)
            if (shown && time > from - 1.5 * step && time < to + 1.5 * step)
                first = first < 0 ? time : first, last = time + step;
        if (first < 0)
            return 99;
        firstMin = std::min(firstMin, first - from), firstMax = std::max(firstMax, first - from);
        lastMin = std::min(lastMin, last - to), lastMax = std::max(lastMax, last - to);
        worst = std::max({worst, std::abs(first - from) / step, std::abs(last - to) / step});
    }
    detail = QStringLiteral("first frames %1..%2 ms after the start, last frames end %3..%4 ms "
                            "from the end (a frame: %5 ms)")
                 .arg(firstMin * 1000, 0, 'f', 0)
                 .arg(firstMax * 1000, 0, 'f', 0)
                 .arg(lastMin * 1000, 0, 'f', 0)
                 .arg(lastMax * 1000, 0, 'f', 0)
                 .arg(step * 1000, 0, 'f', 1);
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(12.0, QString(argv[1]).toDouble()) : 30.0;
    const EnginePaths paths = EnginePaths::ForProgramFolder(KESTRANI_PROGRAM_DIR);
    QTemporaryDir dir;
    if (!paths.IsValid() || !dir.isValid() ||
        QStandardPaths::findExecutable("tesseract").isEmpty()) {
        std::fprintf(stderr, "bench_subtitles: needs the built program and tesseract\n");
        return 1;
    }
    // The pictures: a test card in 16:9 and in 4:3, and a coloured fractal zoom in 4:3 (the
    // hardest ground for letters).
    const QStringList pictures{"testsrc2=size=640x360:rate=15", "testsrc2=size=640x480:rate=15",
                               "mandelbrot=size=640x480:rate=15"};
    const QStringList pictureNames{"test card 16:9", "test card 4:3", "fractal 4:3"};
    QList<std::pair<double, double>> times;
    const double slot = seconds / 12;
    for (int i = 0; i < 12; ++i)
        times.append({i * slot + 0.5, (i + 1) * slot - 0.2});
    QStringList sources;
    for (int i = 0; i < pictures.size(); ++i) {
        const QString video = dir.filePath(QStringLiteral("video%1.mp4").arg(i));
        QFile srt(dir.filePath(QStringLiteral("video%1.srt").arg(i)));
        if (!Execute("ffmpeg", {"-v",
                                "error",
                                "-y",
                                "-f",
                                "lavfi",
                                "-i",
                                pictures[i],
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=frequency=440",
                                "-t",
                                QString::number(seconds),
                                "-c:v",
                                "libx264",
                                "-preset",
                                "veryfast",
                                "-pix_fmt",
                                "yuv420p",
                                "-c:a",
                                "aac",
                                video})
                 .ok ||
            !srt.open(QIODevice::WriteOnly) ||
            srt.write(
                Srt(times, QStringList(std::begin(sentences), std::end(sentences))).toUtf8()) <= 0)
            return 1;
        sources.append(video);
    }

    const QList<Output> outputs{{"176x144 12:11 H.263 112k", 0, 3},
                                {"176x144 MPEG-4 96k", 1, 1},
                                {"176x144 H.264 128k", 1, 2},
                                {"128x96 12:11 H.263 40k", 0, 1}};
    std::printf(
        "Burned-in subtitles: 12 cues of ordinary sentences (%d words) over %.0f s, "
        "read back by tesseract at the middle of each shown line pair\n\n",
        int(Words(QStringList(std::begin(sentences), std::end(sentences)).join(u' ')).size()),
        seconds);
    std::printf("%-34s %-16s %14s %10s %10s %7s\n", "output (type, profile)", "picture",
                "words read", "cpu s", "without s", "ratio");
    int read176 = 0, total176 = 0, read128 = 0, total128 = 0;
    double with = 0, without = 0, withCpu = 0, withoutCpu = 0;
    for (const Output &output : outputs) {
        for (int i = 0; i < sources.size(); ++i) {
            const QString out =
                dir.filePath(QStringLiteral("out-%1-%2").arg(output.profile).arg(i));
            const QString plain = out + "-plain";
            QDir().mkpath(out), QDir().mkpath(plain);
            const QStringList common{"-t", QString::number(output.type), "-p",
                                     QString::number(output.profile)};
            const Run burned =
                Execute(cli, common + QStringList{"-o", out, "--subtitles", sources[i]});
            const Run bare = Execute(cli, common + QStringList{"-o", plain, sources[i]});
            if (!burned.ok || !bare.ok) {
                std::fprintf(stderr, "bench_subtitles: a batch failed: %s\n",
                             burned.err.constData());
                return 1;
            }
            int read = 0, total = 0;
            ReadBack(out + QStringLiteral("/video%1.3gp").arg(i),
                     dir.filePath(QStringLiteral("video%1.srt").arg(i)), output, paths, seconds,
                     read, total);
            (output.what.startsWith("128") ? read128 : read176) += read;
            (output.what.startsWith("128") ? total128 : total176) += total;
            with += burned.wall, without += bare.wall;
            withCpu += burned.cpu, withoutCpu += bare.cpu;
            std::printf("%-34s %-16s %6d/%-3d %5.1f%% %10.1f %10.1f %7.3f\n",
                        qPrintable(QStringLiteral("%1 (%2, %3)")
                                       .arg(output.what)
                                       .arg(output.type)
                                       .arg(output.profile)),
                        qPrintable(pictureNames[i]), read, total,
                        total ? 100.0 * read / total : 0.0, burned.cpu, bare.cpu,
                        burned.cpu / bare.cpu);
            std::fflush(stdout);
        }
    }
    std::printf("\nwords read at 176x144: %d of %d, %.1f %% (aim: 90 %%)\n", read176, total176,
                total176 ? 100.0 * read176 / total176 : 0.0);
    std::printf("words read at 128x96:  %d of %d, %.1f %% (aim: 75 %%)\n", read128, total128,
                total128 ? 100.0 * read128 / total128 : 0.0);
    std::printf("batch time with subtitles against without: wall %.1f s / %.1f s = %.3f, "
                "processor %.1f s / %.1f s = %.3f\n\n",
                with, without, with / without, withCpu, withoutCpu, withCpu / withoutCpu);
    std::printf("Cue timing: 5 cues on a black 16:9 video converted from 60 s to 70 s\n");
    for (const Output &output : outputs) {
        QString detail;
        const double worst = Timing(dir.path(), output, detail);
        std::printf("%-34s worst %.2f frame: %s\n", qPrintable(output.what), worst,
                    qPrintable(detail));
    }
    return 0;
}
