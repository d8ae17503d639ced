// SPDX-License-Identifier: GPL-3.0-or-later
// Runs every shipped profile on test sources the way the batch runs them and prints, per
// profile, the time of all passes, the file size, the rate and the picture quality: SSIM of
// the output against the source put through the same scaling, padding and frame rate.
//
//   bench_profiles [SOURCE...]   (default: two 10 s 1280x720 ffmpeg test patterns)
#include "../../tests/engine/mediacheck.h"
#include "../../tests/engine/profilerunner.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

using namespace mediacheck;

namespace {

// The SSIM of the whole picture, as ffmpeg's ssim filter sums it up ("All:0.98...").
double Ssim(const QString &output, const QString &source, const QString &pictureFilter)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start("ffmpeg",
                 {"-hide_banner", "-nostdin", "-i", "file:" + output, "-i", "file:" + source,
                  "-lavfi", "[1:v]" + pictureFilter + "[ref];[0:v][ref]ssim", "-f", "null", "-"});
    ffmpeg.waitForFinished(-1);
    const QRegularExpressionMatch m =
        QRegularExpression("All:([0-9.]+)").match(QString::fromUtf8(ffmpeg.readAll()));
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

QString ArgumentAfter(const QStringList &arguments, const QString &option)
{
    const qsizetype at = arguments.indexOf(option);
    return at >= 0 ? arguments.value(at + 1) : QString();
}

void Measure(const QString &source, const QString &outputDir)
{
    const double length = Duration(Probe(source));
    std::printf("\n%s (%.1f s)\n", qPrintable(QFileInfo(source).fileName()), length);
    std::printf("%-4s %-58s %8s %8s %9s %7s\n", "type", "profile", "seconds", "KiB", "kbit/s",
                "SSIM");
    for (int type = 0; type < 3; ++type) {
        const ProfileRunner profiles(QStringLiteral(KESTRANI_PROGRAM_DIR "/app"), type);
        for (int row = 0; row < profiles.ProfileCount(); ++row) {
            ConversionTask task = ConversionTask::ForSource(source, length);
            const QList<ProfileRunner::Pass> passes = profiles.Run(row, task, outputDir);
            qint64 ms = 0;
            for (const ProfileRunner::Pass &p : passes)
                ms += p.milliseconds;
            const QString final = ProfileRunner::FinalPath(outputDir, task, profiles.Extension());
            const qint64 bytes = QFileInfo(final).size();
            const double ssim =
                Ssim(final, source, ArgumentAfter(passes.value(0).arguments, "-vf"));
            std::printf("%-4d %-58s %8.2f %8lld %9.1f %7.4f\n", type,
                        qPrintable(profiles.Title(row).left(58)), ms / 1000.0, bytes / 1024,
                        bytes * 8.0 / 1000.0 / length, ssim);
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
    if (sources.isEmpty()) {
        for (const QString &pattern : {QStringLiteral("testsrc2"), QStringLiteral("mandelbrot")}) {
            const QString path = dir.filePath(pattern + ".mkv");
            MakeClip(path,
                     {"-f", "lavfi", "-i", pattern + "=size=1280x720:rate=30", "-f", "lavfi", "-i",
                      "sine=frequency=440:sample_rate=44100", "-t", "10"},
                     {"-c:v", "libx264", "-crf", "10", "-preset", "ultrafast", "-c:a", "flac"});
            sources << path;
        }
    }
    for (const QString &source : sources)
        Measure(QFileInfo(source).absoluteFilePath(), dir.path() + u'/');
    return 0;
}
