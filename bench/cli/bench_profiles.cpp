// SPDX-License-Identifier: GPL-3.0-or-later
// Runs every shipped profile on test sources the way the batch runs them and prints, per
// profile, the time of all passes (wall clock and the tools' processor time), the file size, the
// rate, the picture quality and whether the video keeps to the level it declares. Quality is the
// SSIM of the picture area (bars cropped) against the source put through the profile's own scaling,
// pixel shape and frame rate.
//
//   bench_profiles [--app FOLDER] [SOURCE...]
//     FOLDER: profile files to measure instead of the built ones (kestrani-amrenc beside them)
//     SOURCE default: 20 s of 1280x720 testsrc2 at 30 fps and of 640x480 mandelbrot at 25 fps
#include "../../tests/support/levelcheck.h"
#include "../../tests/support/support.h"
#include "childrencpu.h"
#include "profilerunner.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

using namespace support;

namespace {

QString FfmpegLog(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start("ffmpeg", QStringList{"-hide_banner", "-nostdin"} + arguments);
    ffmpeg.waitForFinished(-1);
    return QString::fromUtf8(ffmpeg.readAll());
}

// The size of the picture inside the bars: the profile's filter chain up to its padding.
QString PictureSize(const QString &source, const QString &pictureFilter)
{
    const QString scaling = pictureFilter.left(pictureFilter.indexOf(",pad="));
    const QRegularExpressionMatch m =
        QRegularExpression(" s:(\\d+x\\d+) ")
            .match(FfmpegLog({"-i", "file:" + source, "-frames:v", "1", "-vf",
                              scaling + ",showinfo", "-f", "null", "-"}));
    return m.captured(1).replace(u'x', u':');
}

// The SSIM of the picture area, as ffmpeg's ssim filter sums it up ("All:0.98...").
double Ssim(const QString &output, const QString &source, const QString &pictureFilter)
{
    const QString crop = "crop=" + PictureSize(source, pictureFilter);
    const QRegularExpressionMatch m =
        QRegularExpression("All:([0-9.]+)")
            .match(FfmpegLog({"-i", "file:" + output, "-i", "file:" + source, "-lavfi",
                              "[0:v]" + crop + "[out];[1:v]" + pictureFilter + "," + crop +
                                  "[ref];[out][ref]ssim",
                              "-f", "null", "-"}));
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

QString ArgumentAfter(const QStringList &arguments, const QString &option)
{
    const qsizetype at = arguments.indexOf(option);
    return at >= 0 ? arguments.value(at + 1) : QString();
}

void Measure(const QString &appFolder, const QString &source, const QString &outputDir)
{
    const double length = Duration(Probe(source));
    std::printf("\n%s (%.1f s)\n", qPrintable(QFileInfo(source).fileName()), length);
    std::printf("%-4s %-52s %7s %7s %8s %7s %6s  %s\n", "type", "profile", "seconds", "CPU s",
                "KiB", "kbit/s", "SSIM", "level");
    for (int type = 0; type < 3; ++type) {
        const ProfileRunner profiles(appFolder, type);
        for (int row = 0; row < profiles.ProfileCount(); ++row) {
            ConversionTask task = ConversionTask::ForSource(source, length);
            const double cpuBefore = ChildrenCpu();
            const QList<ProfileRunner::Pass> passes = profiles.Run(row, task, outputDir);
            const double cpu = ChildrenCpu() - cpuBefore;
            qint64 ms = 0;
            for (const ProfileRunner::Pass &p : passes)
                ms += p.milliseconds;
            const QString final = ProfileRunner::FinalPath(outputDir, task, profiles.Extension());
            const qint64 bytes = QFileInfo(final).size();
            const double ssim =
                Ssim(final, source, ArgumentAfter(passes.value(0).arguments, "-vf"));
            const levelcheck::Result level = levelcheck::Check(final);
            std::printf("%-4d %-52s %7.2f %7.2f %8lld %7.1f %6.4f  %s%s\n", type,
                        qPrintable(profiles.Title(row).left(52)), ms / 1000.0, cpu, bytes / 1024,
                        bytes * 8.0 / 1000.0 / length, ssim, level.Fits() ? "ok " : "OVER ",
                        qPrintable(level.Text()));
            std::fflush(stdout);
            QFile::remove(final);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList sources = app.arguments().mid(1);
    QString appFolder = QStringLiteral(KESTRANI_PROGRAM_DIR "/app");
    if (sources.value(0) == "--app" && sources.size() > 1) {
        appFolder = QFileInfo(sources[1]).absoluteFilePath();
        sources = sources.mid(2);
    }
    if (sources.isEmpty()) {
        for (const QString &pattern : {QStringLiteral("testsrc2=size=1280x720:rate=30"),
                                       QStringLiteral("mandelbrot=size=640x480:rate=25")}) {
            const QString path = dir.filePath(pattern.section(u'=', 0, 0) + ".mkv");
            RunTool("ffmpeg", {"-v",
                               "error",
                               "-y",
                               "-f",
                               "lavfi",
                               "-i",
                               pattern,
                               "-f",
                               "lavfi",
                               "-i",
                               "sine=frequency=440:sample_rate=44100",
                               "-t",
                               "20",
                               "-c:v",
                               "libx264",
                               "-crf",
                               "10",
                               "-preset",
                               "ultrafast",
                               "-c:a",
                               "flac",
                               path});
            sources << path;
        }
    }
    for (const QString &source : sources)
        Measure(appFolder, QFileInfo(source).absoluteFilePath(), dir.path() + u'/');
    return 0;
}
