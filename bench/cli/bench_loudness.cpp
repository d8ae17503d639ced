// SPDX-License-Identifier: GPL-3.0-or-later
// Even loudness across a batch, measured: sources at about -40, -30, -23, -14 and -8 LUFS
// (speech from espeak-ng with music or noise under it) and the sample videos with sound, through
// each output type's default profile by kestrani-cli, with --loudness and without. Prints every
// output's integrated loudness and true peak, the spread of the outputs' loudness against the
// sources', and the time of the batches with the option against without (wall clock, and the
// processor time of kestrani-cli and its tools, which other work on a shared machine hardly
// moves), for the whole batch and for the made sources alone (the samples hold test tones,
// which AMR-NB carries unevenly: their second tries weigh on the whole).
//
// Last, one batch of all the sources per type at -j 0, with the option and without.
//
//   bench_loudness [--target LUFS] [--seconds S]      default -16 LUFS, 15 s sources
#include "../../tests/support/support.h"
#include "childrencpu.h"
#include "enginepaths.h"
#include "sound/loudnessplan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace support;

namespace {

const QString speechText = QStringLiteral(
    "The small speaker of a telephone cannot play what a cinema plays. Quiet words under loud "
    "music are lost, and a clip from one camera is far louder than a clip from another. This "
    "is a test of even loudness across a batch of videos, spoken by a machine, with music and "
    "noise under it.");

LoudnessReading Read(const QString &file, const QString &filter = QString())
{
    const ToolResult r =
        RunTool("ffmpeg", {"-hide_banner", "-nostdin", "-i", "file:" + file, "-map", "0:a:0", "-af",
                           filter + "ebur128@read=peak=true:framelog=verbose", "-f", "null", "-"});
    return MeterReport::Read(r.err).Loudness("read").value_or(LoudnessReading());
}

// A 320x240 clip whose sound is speech over a bed, brought to about `target` LUFS: a limiter
// holds the peaks of the loud ones under full scale, as a mastered source's are.
QString MakeSource(const QString &folder, const QString &speech, const QString &bed, double target,
                   double seconds)
{
    const QString name = QStringLiteral("%1/%2%3.mp4")
                             .arg(folder, bed.startsWith("anoise") ? "noise" : "music")
                             .arg(-target, 0, 'f', 0);
    const QString mix = folder + "/mix.wav";
    if (!RunTool("ffmpeg", {"-v", "error", "-nostdin", "-y", "-i", speech, "-f", "lavfi", "-i", bed,
                            "-filter_complex",
                            "[0:a]aresample=44100,apad[s];[1:a]volume=-14dB[b];[s][b]amix=inputs="
                            "2:duration=shortest:normalize=0,pan=stereo|c0=c0|c1=c0",
                            "-t", QString::number(seconds), "-c:a", "pcm_f32le", mix})
             .ok())
        return QString();
    double gain = target - Read(mix).integrated;
    for (int attempt = 0; attempt < 6; ++attempt) {
        const QString level = QStringLiteral("volume=%1dB").arg(gain, 0, 'f', 2) +
                              (target > -16 ? ",alimiter=limit=0.85:level=false" : "");
        RunTool("ffmpeg", {"-v",
                           "error",
                           "-nostdin",
                           "-y",
                           "-f",
                           "lavfi",
                           "-i",
                           "testsrc2=size=320x240:rate=25",
                           "-i",
                           mix,
                           "-t",
                           QString::number(seconds),
                           "-filter_complex",
                           "[1:a]" + level + "[a]",
                           "-map",
                           "0:v",
                           "-map",
                           "[a]",
                           "-c:v",
                           "libx264",
                           "-preset",
                           "veryfast",
                           "-pix_fmt",
                           "yuv420p",
                           "-c:a",
                           "aac",
                           "-b:a",
                           "128k",
                           name});
        const double miss = target - Read(name).integrated;
        if (std::abs(miss) < 0.3)
            break;
        gain += 1.5 * miss; // a limiter gives back less than the gain it is given
    }
    return name;
}

// A program folder of the benchmark's own (its log is the benchmark's): kestrani-cli copied, its
// app/ folder linking the built profiles and tools.
EnginePaths ProgramFolder(const QString &folder)
{
    const QString built = QStringLiteral(KESTRANI_PROGRAM_DIR);
    if (!QDir().mkpath(folder + "/app") ||
        !QFile::copy(built + "/kestrani-cli", folder + "/kestrani-cli"))
        return {};
    for (const QString &name : QDir(built + "/app").entryList(QDir::Files))
        if (name != "log.txt" && !QFile::link(built + "/app/" + name, folder + "/app/" + name))
            return {};
    return EnginePaths::ForProgramFolder(folder);
}

struct Outcome {
    LoudnessReading out;
    bool finished = false;
    QString told; // the NOTE lines and the failure the run gave, one per line
    double seconds = 0, cpu = 0;
};

// One batch through kestrani-cli, the default profile of `type`, with the option (a target) or
// without; its log is the program folder's own. Of a batch of one file, the output is read.
Outcome Convert(const QString &cli, const EnginePaths &paths, int type, const QStringList &sources,
                const QString &outputDir, std::optional<double> target,
                const QStringList &more = {})
{
    QDir(outputDir).removeRecursively();
    QDir().mkpath(outputDir);
    QFile::remove(paths.logFile);
    QStringList arguments = QStringList{"-t", QString::number(type), "-o", outputDir} + more;
    if (target)
        arguments.append(QStringLiteral("--loudness=%1").arg(*target));
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    const double cpu = ChildrenCpu();
    const ToolResult run = RunTool(cli, arguments + sources, -1);
    o.seconds = clock.elapsed() / 1000.0;
    o.cpu = ChildrenCpu() - cpu;
    o.finished = run.ok();
    const QStringList made = FilesIn(outputDir);
    if (o.finished && sources.size() == 1 && made.size() == 1)
        o.out = Read(outputDir + u'/' + made.front());
    for (const QString &line : QString::fromUtf8(Contents(paths.logFile)).split(u'\n'))
        if (line.startsWith("       ") && !line.contains(" = "))
            o.told.append(line.trimmed() + u'\n');
    if (!o.finished)
        o.told += QString::fromUtf8(run.err).section(u'\n', 0, 0) + u'\n';
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double target = args.contains("--target")
                              ? args.value(args.indexOf("--target") + 1).toDouble()
                              : Loudness::defaultTarget;
    const double seconds =
        args.contains("--seconds") ? args.value(args.indexOf("--seconds") + 1).toDouble() : 15;
    QTemporaryDir dir;
    const QString speech = dir.filePath("speech.wav");
    if (!RunTool("espeak-ng", {"-w", speech, "-s", "150", speechText}).ok()) {
        std::fprintf(stderr, "espeak-ng is needed (tools/install-deps installs it)\n");
        return 1;
    }
    QStringList sources;
    for (const char *bed :
         {"aevalsrc=exprs='(0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277.2*t)+0.2*sin(2*PI*329.6*t)+"
          "0.1*sin(2*PI*55*t))*(0.6+0.4*sin(2*PI*0.5*t))':s=44100",
          "anoisesrc=color=pink:seed=3:amplitude=0.3:sample_rate=44100"})
        for (double level : {-40.0, -30.0, -23.0, -14.0, -8.0})
            sources.append(MakeSource(dir.path(), speech, bed, level, seconds));
    for (const char *sample :
         {"file_with_data_streams.mp4", "gomediainfo_sample.avi", "gomediainfo_sample_ac3.vob",
          "weird_aspect.small.mpg", "rotate-buck-bunny.mp4", "sideways movie.mov", "IMG_0034.MOV"})
        sources.append(MediaFile(sample));
    const QString program = dir.filePath("program");
    const EnginePaths paths = ProgramFolder(program);
    const QString cli = program + "/kestrani-cli";
    if (!paths.IsValid()) {
        std::fprintf(stderr, "no program folder could be made from %s\n", KESTRANI_PROGRAM_DIR);
        return 1;
    }
    const QString out = dir.filePath("out");

    std::printf("target %.1f LUFS; each output: integrated LUFS, true peak dBTP, then * failed, "
                "= left as it is, r converted again, n another note\n\n%-28s %7s",
                target, "source", "LUFS");
    const char *types[] = {"3GP+AMR", "3GP+AAC", "3G2+AAC"};
    for (const char *t : types)
        std::printf("  %16s", t);
    std::printf("\n");
    double with[3] = {}, without[3] = {}, cpuWith[3] = {}, cpuWithout[3] = {};
    double madeWith = 0, madeWithout = 0, madeCpuWith = 0, madeCpuWithout = 0;
    QList<double> sourceLevels, outputLevels[3];
    QStringList notes;
    for (const QString &source : sources) {
        const LoudnessReading in = Read(source);
        std::printf("%-28s %7.1f", qPrintable(QFileInfo(source).fileName().left(28)),
                    in.integrated);
        const bool made = source.startsWith(dir.path());
        if (made)
            sourceLevels.append(in.integrated);
        for (int type = 0; type < 3; ++type) {
            const Outcome plain = Convert(cli, paths, type, {source}, out, std::nullopt);
            const Outcome even = Convert(cli, paths, type, {source}, out, target);
            without[type] += plain.seconds, cpuWithout[type] += plain.cpu;
            with[type] += even.seconds, cpuWith[type] += even.cpu;
            if (made) {
                madeWithout += plain.seconds, madeCpuWithout += plain.cpu;
                madeWith += even.seconds, madeCpuWith += even.cpu;
            }
            const bool left = even.told.contains("it is left as it is");
            const bool again = even.told.contains("converted once more");
            const bool noted = !even.told.isEmpty() && !left && !again;
            std::printf("  %6.1f %6.1f %s%s%s%s", even.out.integrated, even.out.truePeak,
                        even.finished ? " " : "*", left ? "=" : " ", again ? "r" : " ",
                        noted ? "n" : " ");
            if (made && even.finished && !left)
                outputLevels[type].append(even.out.integrated);
            for (const QString &line : even.told.split(u'\n', Qt::SkipEmptyParts))
                notes.append(QStringLiteral("%1, %2: %3")
                                 .arg(QFileInfo(source).fileName(), types[type], line));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const auto spread = [](const QList<double> &v) {
        return v.isEmpty()
                   ? 0.0
                   : *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
    };
    std::printf("\n= sound left as it is\nspread of the made sources: %.1f LU; of their outputs:",
                spread(sourceLevels));
    for (int type = 0; type < 3; ++type)
        std::printf(" %s %.1f LU", types[type], spread(outputLevels[type]));
    std::printf("\ntime with the option against without (wall; processor):");
    for (int type = 0; type < 3; ++type)
        std::printf(" %s %.2f; %.2f", types[type], with[type] / without[type],
                    cpuWith[type] / cpuWithout[type]);
    const double all = (with[0] + with[1] + with[2]) / (without[0] + without[1] + without[2]);
    const double allCpu =
        (cpuWith[0] + cpuWith[1] + cpuWith[2]) / (cpuWithout[0] + cpuWithout[1] + cpuWithout[2]);
    std::printf("\nthe whole batch: %.2f; %.2f (the made sources alone: %.2f; %.2f)\n", all, allCpu,
                madeWith / madeWithout, madeCpuWith / madeCpuWithout);
    // The same, as one batch per type with the tasks side by side: a task's measuring, which
    // keeps one core busy, runs beside another's encoding.
    std::printf("one batch of all the sources at -j 0, with the option against without (wall; "
                "processor):");
    double batchWith[2] = {}, batchWithout[2] = {};
    for (int type = 0; type < 3; ++type) {
        const Outcome plain = Convert(cli, paths, type, sources, out, std::nullopt, {"-j", "0"});
        const Outcome even = Convert(cli, paths, type, sources, out, target, {"-j", "0"});
        batchWithout[0] += plain.seconds, batchWithout[1] += plain.cpu;
        batchWith[0] += even.seconds, batchWith[1] += even.cpu;
        std::printf(" %s %.2f; %.2f", types[type], even.seconds / plain.seconds,
                    even.cpu / plain.cpu);
    }
    std::printf("; the three: %.2f; %.2f\n\n", batchWith[0] / batchWithout[0],
                batchWith[1] / batchWithout[1]);
    for (const QString &note : notes)
        std::printf("%s\n", qPrintable(note));
    return 0;
}
