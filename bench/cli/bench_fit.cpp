// SPDX-License-Identifier: GPL-3.0-or-later
// Size limits: sources (generated motion-heavy, calm and still clips of 10 s up to LONGEST, and
// the sample videos of tests/media) through kestrani-cli with --max-size, for each output type
// and limit, against the same batch without a limit. Printed for each type and limit: the
// outputs at or under the limit, the median and worst fill (size / limit) of the files whose
// rates the limit lowered (a file at the profile's own rates is as small as it is), the extra
// tries, the tasks too long to fit, and the processor time against the same tasks without a
// limit (those too long to fit left out of both).
// Then one source of LONGEST seconds in parts of a minute (--part-length 1) at -j 0 against in
// one piece: the wall ratio and the share of the cores kept busy.
//
//   bench_fit [LONGEST [TYPES [LIMITS]]]   (default: 600 s, types 0,1,2, 300K,600K,1M,10M;
//                                          LIMITS "none": only the long source in parts)
#include "childrencpu.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");
const QString logFile = QStringLiteral(KESTRANI_PROGRAM_DIR "/app/log.txt");

struct Run {
    double wall = 0.0;
    double cpu = 0.0;
    QByteArray said; // standard output and error
};

Run Batch(const QStringList &arguments)
{
    Run run;
    const double before = ChildrenCpu();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(cli, arguments);
    process.waitForFinished(-1);
    run.wall = clock.elapsed() / 1000.0;
    run.cpu = ChildrenCpu() - before;
    run.said = process.readAll();
    return run;
}

// A generated source: its lavfi picture, drawn at 320x240 and kept nearly losslessly. Past two
// minutes a source repeats its first two (a cut every two minutes): the Mandelbrot zoom gets
// slower to draw the deeper it goes, and ten minutes of it take an hour.
QString Generate(const QString &folder, const QString &name, const QString &picture, double seconds)
{
    const QString path = folder + u'/' + name + QStringLiteral(".mp4");
    constexpr double drawn = 120.0;
    if (seconds > drawn) {
        const QString piece = Generate(folder, name + QStringLiteral("-piece"), picture, drawn);
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-nostdin", "-y", "-stream_loop", "-1", "-i", piece,
                                "-t", QString::number(seconds), "-c", "copy", path});
        ffmpeg.waitForFinished(-1);
        QFile::remove(piece);
        return path;
    }
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v",       "error",
                            "-nostdin", "-y",
                            "-f",       "lavfi",
                            "-i",       picture,
                            "-f",       "lavfi",
                            "-i",       "sine=frequency=440:beep_factor=2",
                            "-t",       QString::number(seconds),
                            "-c:v",     "mpeg4",
                            "-q:v",     "3",
                            "-c:a",     "aac",
                            "-b:a",     "128k",
                            path});
    ffmpeg.waitForFinished(-1);
    return path;
}

qint64 LimitBytes(const QString &text)
{
    const QChar unit = text.back().toUpper();
    const qint64 number = text.chopped(unit.isDigit() ? 0 : 1).toLongLong();
    return unit == u'K' ? number * 1024 : unit == u'M' ? number * 1024 * 1024 : number;
}

double Median(QList<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

int Count(const QByteArray &text, const char *what)
{
    return int(text.count(what));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double longest = args.size() > 1 ? args[1].toDouble() : 600.0;
    const QStringList types = (args.size() > 2 ? args[2] : QStringLiteral("0,1,2")).split(u',');
    const QStringList limits =
        (args.size() > 3 ? args[3] : QStringLiteral("300K,600K,1M,10M")).split(u',');
    const int cores = QThread::idealThreadCount();
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());

    const bool partsOnly = limits.value(0) == QLatin1String("none");
    QStringList sources;
    QString film; // the longest motion-heavy source
    QList<double> lengths;
    for (double seconds : {10.0, 30.0, 120.0})
        if (seconds < longest && !partsOnly)
            lengths << seconds;
    lengths << longest;
    for (double seconds : lengths) {
        if (partsOnly) {
            film = Generate(dir.path(), "motion",
                            "testsrc2=size=320x240:rate=30,noise=alls=30:allf=t", seconds);
            break;
        }
        const QString s = QString::number(int(seconds));
        film = Generate(dir.path(), "motion" + s,
                        "testsrc2=size=320x240:rate=30,noise=alls=30:allf=t", seconds);
        sources << film
                << Generate(dir.path(), "calm" + s, "mandelbrot=size=320x240:rate=25", seconds)
                << Generate(dir.path(), "still" + s, "smptebars=size=320x240:rate=25", seconds);
    }
    const QDir media(QStringLiteral(KESTRANI_MEDIA_DIR));
    for (const QString &name : media.entryList(QDir::Files))
        if (!name.endsWith(".md") && !name.startsWith("broken"))
            sources << media.filePath(name);
    std::printf("%lld sources (generated of 10 s to %.0f s, and tests/media), %d cores\n",
                qint64(sources.size()), longest, cores);
    std::printf("%-4s %-5s %9s %7s %7s %6s %5s %5s %9s\n", "type", "limit", "within", "median",
                "worst", "tries", "long", "fail", "cpu/same");

    int outputs = 0, within = 0;
    QList<double> allFills;
    for (const QString &type : types) {
        if (partsOnly)
            break;
        const QString plain = dir.filePath("plain" + type);
        QDir().mkpath(plain);
        const Run none = Batch(QStringList{"-t", type, "-o", plain, "-j", "0"} + sources);
        for (const QString &limit : limits) {
            const qint64 bytes = LimitBytes(limit);
            const QString out = dir.filePath("out" + type + limit);
            QDir().mkpath(out);
            QFile log(logFile);
            const qint64 logBefore = log.size();
            const Run fit =
                Batch(QStringList{"-t", type, "-o", out, "-j", "0", "--max-size", limit} + sources);
            QByteArray logged;
            if (log.open(QIODevice::ReadOnly) && log.seek(logBefore))
                logged = log.readAll();
            // The same tasks without a limit: the sources that gave a file.
            QStringList ran;
            for (const QString &source : sources)
                if (!QDir(out).entryList({QFileInfo(source).completeBaseName() + ".3g*"}).isEmpty())
                    ran << source;
            Run same = none;
            if (ran.size() < sources.size() && !ran.isEmpty()) {
                const QString again = dir.filePath("same" + type + limit);
                QDir().mkpath(again);
                same = Batch(QStringList{"-t", type, "-o", again, "-j", "0"} + ran);
            }
            QList<double> fills;
            int under = 0, files = 0;
            for (const QFileInfo &file : QDir(out).entryInfoList(QDir::Files)) {
                ++files;
                under += file.size() <= bytes;
                // Lowered by the limit: the same source without it made a larger file.
                const QFileInfo alone(plain + u'/' + file.fileName());
                if (!alone.exists() || alone.size() > bytes * 0.95)
                    fills << double(file.size()) / double(bytes);
            }
            outputs += files;
            within += under;
            allFills += fills;
            const double worst =
                fills.isEmpty() ? 0 : *std::min_element(fills.begin(), fills.end());
            std::printf("%-4s %-5s %4d/%-4d %7.3f %7.3f %6d %5d %5d %9.2f\n", qPrintable(type),
                        qPrintable(limit), under, files, Median(fills), worst,
                        Count(logged, "converted again"), Count(logged, "fits in"),
                        int(sources.size()) - files - Count(logged, "fits in"),
                        same.cpu > 0 ? fit.cpu / same.cpu : 0.0);
            std::fflush(stdout); // a row at a time: the whole run takes hours
        }
    }
    std::printf("all: %d of %d outputs within their limit; lowered ones: median fill %.3f, "
                "worst %.3f\n",
                within, outputs, Median(allFills),
                allFills.isEmpty() ? 0 : *std::min_element(allFills.begin(), allFills.end()));

    // One long source: in parts side by side, against in one piece.
    Run runs[2];
    const char *labels[2] = {"one piece", "parts of 1 min"};
    for (int i = 0; i < 2; ++i) {
        const QString out = dir.filePath(QStringLiteral("film%1").arg(i));
        QDir().mkpath(out);
        QStringList arguments{"-t", types.value(0), "-o", out, "-j", "0"};
        if (i == 1)
            arguments << "--part-length"
                      << "1";
        runs[i] = Batch(arguments << film);
        std::printf("%-15s wall %7.2f s, processor %7.2f s, cores busy %5.1f %%, files %lld\n",
                    labels[i], runs[i].wall, runs[i].cpu,
                    100.0 * runs[i].cpu / (runs[i].wall * cores),
                    qint64(QDir(out).entryList(QDir::Files).size()));
    }
    std::printf("%.0f s source, wall ratio one piece / parts: %.2f\n", longest,
                runs[1].wall > 0 ? runs[0].wall / runs[1].wall : 0.0);
    return 0;
}
