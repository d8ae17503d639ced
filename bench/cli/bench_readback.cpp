// SPDX-License-Identifier: GPL-3.0-or-later
// What the read-back check decides over many sources, and what it costs. Every source goes
// through the three output types' default profiles with kestrani-cli, as a user runs it:
//   good outputs refused  a source that can be converted, whose task did not finish
//   bad outputs passed    a task that finished although its file is bad: from copies of the
//                         default profiles made faulty on purpose (wrong size, rate, codec,
//                         brand, picture or sound cut short, no sound), from copies of the
//                         good outputs with 3000 bytes zeroed amid the media data or the tail
//                         cut off, and from sources that hold no picture to convert
//   the check's cost      its processor time beside the task's (the tools and kestrani-cli),
//                         and the share of it that decoding takes
// Sources: generated ones (variable rate with and without B-frames, low rates, a header that
// promises more than the file holds, an empty sound track, damaged and unreadable files) and
// the real samples of the folders or files given (default tests/media).
//
//   bench_readback [FOLDER|FILE...]        e.g. bench_readback /path/to/more/media
#include "../../tests/support/engine.h"

#include "childrencpu.h"
#include "mediacheck/outputcheck.h"
#include "mediacheck/sourceprobe.h"
#include "mediaerror.h"
#include "mediainput.h"
#include "mediaprobe.h"
#include "profiles/profilecatalog.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <sys/resource.h>

using namespace support;

namespace {

struct Source {
    QString path;
    bool convertible = true; // holds a picture that can be converted
    // What the batch expects of a task of the whole source (brands and Check entry aside).
    OutputExpectation expected = {};
};

struct Outcome {
    bool finished = false;
    bool byCheck = false; // refused by the read-back check rather than a tool or the probe
    QString reason;
};

struct Tally {
    int cases = 0, passed = 0, byCheck = 0;
    void Add(const Outcome &o)
    {
        ++cases;
        passed += o.finished;
        byCheck += !o.finished && o.byCheck;
    }
};

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

void Ffmpeg(const QStringList &arguments)
{
    RunTool("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + arguments, 600000);
}

// A copy of the file with `bytes` zeroed in its middle (a third of a smaller file).
QString Zeroed(const QString &path, const QString &copy, qint64 bytes)
{
    QByteArray data = Contents(path);
    const qint64 n = std::min<qint64>(bytes, data.size() / 3);
    data.replace(data.size() / 2 - n / 2, n, QByteArray(n, '\0'));
    return WriteFile(copy, data) ? copy : QString();
}

// The sources made here: each a case the check met in use.
QList<Source> GeneratedSources(const QString &dir)
{
    const QString sine = "sine=frequency=330:sample_rate=44100";
    const auto part = [](const char *rate, int seconds) {
        return QStringList{"-f", "lavfi",
                           "-t", QString::number(seconds),
                           "-i", QStringLiteral("testsrc2=size=640x360:rate=%1").arg(rate)};
    };
    const QString vfr = "[0:v][1:v][2:v]concat=n=3:v=1:a=0[v]";
    for (const char *bf : {"3", "0"})
        Ffmpeg(part("60", 3) + part("15", 3) + part("8.6", 3) +
               QStringList{"-f",
                           "lavfi",
                           "-i",
                           sine,
                           "-filter_complex",
                           vfr,
                           "-map",
                           "[v]",
                           "-map",
                           "3:a",
                           "-t",
                           "9",
                           "-fps_mode",
                           "vfr",
                           "-c:v",
                           "libx264",
                           "-preset",
                           "veryfast",
                           "-bf",
                           bf,
                           "-c:a",
                           "aac",
                           dir + QStringLiteral("/vfr-bframes-%1.mp4").arg(bf)});
    for (const char *rate : {"1", "0.5", "1.3"})
        Ffmpeg({"-f", "lavfi", "-i", QStringLiteral("testsrc2=size=320x240:rate=%1").arg(rate),
                "-f", "lavfi", "-i", sine, "-t", "12", "-c:v", "mpeg4", "-c:a", "aac",
                dir + QStringLiteral("/slides-%1fps.mp4").arg(rate)});
    Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=15", "-f", "lavfi", "-i", sine, "-t",
            "8", "-vf", "trim=end=6.7", "-c:v", "wmv2", "-c:a", "wmav2", dir + "/header-lies.wmv"});
    Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i",
            sine + ",atrim=end=0", "-t", "5", "-map", "0:v", "-map", "1:a", "-c:v", "mpeg4", "-c:a",
            "pcm_s16le", dir + "/empty-sound-track.mkv"});
    Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=30", "-f", "lavfi", "-i", sine, "-t",
            "6", "-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac", dir + "/plain.mp4"});
    Zeroed(dir + "/plain.mp4", dir + "/damaged-middle.mp4", 3000);
    Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25", "-t", "1", "-target", "pal-dv",
            dir + "/whole.dv"});
    WriteFile(dir + "/cut-in-first-picture.dv", Contents(dir + "/whole.dv").left(4096));
    QFile::remove(dir + "/whole.dv");
    WriteFile(dir + "/zero-bytes.mp4", {});
    Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-frames:v", "0", "-c:v", "flv1",
            dir + "/empty.flv"});
    WriteFile(dir + "/no-index.mp4", Contents(dir + "/plain.mp4").left(30000));

    QList<Source> sources;
    for (const QString &name : FilesIn(dir))
        sources.append(
            {dir + u'/' + name,
             !QRegularExpression("^(cut-in|zero-|empty\\.|no-index)").match(name).hasMatch()});
    return sources;
}

// A real sample can be converted when ffprobe finds a picture in it.
Source Sample(const QString &path)
{
    return {path, StreamCount(Probe(path), "video") > 0};
}

// Task results from kestrani-cli's state lines: "[2/9] a.mp4 -> a.3gp: Finished" on standard
// output, "[2/9] a.mp4 -> a.3gp: failed: why" on standard error.
QList<Outcome> Outcomes(const ToolResult &run, int count)
{
    QList<Outcome> outcomes(count);
    static const QRegularExpression line("^\\[(\\d+)/\\d+\\] .* -> .*: (Finished|failed: (.*))$",
                                         QRegularExpression::MultilineOption);
    for (const QByteArray &text : {run.out, run.err}) {
        for (auto it = line.globalMatch(QString::fromUtf8(text)); it.hasNext();) {
            const auto m = it.next();
            Outcome &o = outcomes[m.captured(1).toInt() - 1];
            o.finished = m.captured(2) == "Finished";
            o.reason = m.captured(3);
            o.byCheck = o.reason.startsWith("the result is not right");
        }
    }
    return outcomes;
}

// The faulty copies of a type's default profile: a name and the change to its passes.
struct Fault {
    const char *name;
    QString (*change)(QString passes, int type);
    // Whether the change makes a bad file of this source: lengths in seconds of the part.
    bool (*applies)(double picture, double sound, double lastPicture, int type);
};

const Fault faults[] = {
    {"picture 128x96",
     [](QString p, int) {
         return p.replace(QRegularExpression("(pad=[^,\"]+)"), "\\1,scale=128:96");
     },
     [](double, double, double, int) { return true; }},
    {"25 pictures a second",
     [](QString p, int) { return p.replace(QRegularExpression("fps=fps='[^']+'"), "fps=fps=25"); },
     [](double, double, double, int) { return true; }},
    {"coded as MPEG-4 instead",
     [](QString p, int) {
         // Without the options only H.263 and H.264 take (the AMR step's H.263 level too).
         return p.replace(QRegularExpression("-c:v \\S+"), "-c:v mpeg4")
             .remove(QRegularExpression("-(preset|profile:v|level|-h263-level) \\S+ "));
     },
     [](double, double, double, int) { return true; }},
    {"the other brand (3GP for 3G2, 3G2 for 3GP)",
     [](QString p, int type) {
         return type == 0 ? QString()
                          : p.replace(QRegularExpression("-f (3gp|3g2) "),
                                      type == 1 ? "-f 3g2 " : "-f 3gp ");
     },
     [](double, double, double, int type) { return type != 0; }},
    {"picture cut to 1 s",
     [](QString p, int) { return p.replace(":start_time=0\"", ":start_time=0,trim=end=1\""); },
     [](double picture, double, double last, int) {
         return picture - 1.0 > 1.0 / 15 + std::max(1.0 / 15, last) + 0.05;
     }},
    {"sound cut to 1 s",
     [](QString p, int) { return p.replace(" -c:a ", " -af atrim=end=1 -c:a "); },
     [](double picture, double sound, double, int) {
         return sound > 0 && 0.9 * std::min(picture, sound) - 0.064 > 1.05;
     }},
    {"no sound", [](QString p, int) { return p.replace("-map $AUDIO_MAP", "-an"); },
     [](double, double sound, double, int) { return sound > 0; }},
};
constexpr int faultCount = int(std::size(faults));

// The three profile files of a program folder: the faulty copies of each type's default
// profile in the order above (a fault that does not apply to the type copies it as it is).
QMap<QString, QString> FaultyProfileFiles(const EnginePaths &built)
{
    QMap<QString, QString> files;
    for (int type = 0; type < 3; ++type) {
        const ProfileCatalog catalog(built);
        const auto listing = catalog.List(type);
        const auto profile = catalog.Load(type, listing.defaultRow);
        QString passes;
        for (qsizetype i = 1; profile && i < profile->keys.size(); ++i) // after its title
            passes += profile->keys[i] + u'=' + profile->values[i] + u'\n';
        QString text = "[Info]\nDescription=faults\nDefaultProfile=1\n";
        for (int f = 0; f < faultCount; ++f) {
            const QString changed = faults[f].change(passes, type);
            text += QStringLiteral("[P%1]\nTitle=%2\n%3")
                        .arg(f + 1)
                        .arg(faults[f].name)
                        .arg(changed.isEmpty() ? passes : changed);
        }
        files.insert(OutputType::Find(type)->ProfileFile(), text);
    }
    return files;
}

// The check's own processor time on a finished file, and how much of it is reading the packets
// (the rest is decoding).
struct CheckCost {
    double seconds = 0, readSeconds = 0;
};

CheckCost MeasureCheck(const QString &output, const OutputExpectation &expected)
{
    CheckCost cost;
    double t = ThreadCpuSeconds();
    OutputCheck::Verify(output, expected);
    cost.seconds = ThreadCpuSeconds() - t;
    t = ThreadCpuSeconds();
    try {
        MediaInput input(output);
        AVPacket *packet = av_packet_alloc();
        while (av_read_frame(input.Format(), packet) >= 0)
            av_packet_unref(packet);
        av_packet_free(&packet);
    } catch (const MediaError &) {
    }
    cost.readSeconds = ThreadCpuSeconds() - t;
    return cost;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    int folders = 0;
    for (const char *home : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) // never the user's
        qputenv(home, dir.filePath(home).toUtf8());
    const QString generated = NewFolder(dir, folders, "generated");
    std::printf("Making the generated sources ...\n");
    std::fflush(stdout);
    QList<Source> sources = GeneratedSources(generated);
    QStringList given = app.arguments().mid(1);
    if (given.isEmpty())
        given << QStringLiteral(KESTRANI_MEDIA_DIR);
    for (const QString &g : given) {
        const QFileInfo info(g);
        const QStringList names = info.isDir() ? FilesIn(g) : QStringList{info.fileName()};
        for (const QString &name : names)
            sources.append(Sample(info.isDir() ? g + u'/' + name : info.absoluteFilePath()));
    }
    for (Source &s : sources)
        if (s.convertible)
            s.expected = OutputExpectation::ForPart(
                ConversionTask::ForSource(s.path, MediaProbe::ClipLength(s.path)),
                SourceProbe::Probe(s.path));
    const EnginePaths built = EnginePaths::ForProgramFolder(KESTRANI_PROGRAM_DIR);
    const QString program = dir.filePath("program");
    MakeProgramFolder(program, FaultyProfileFiles(built));
    QFile::copy(cliProgram, program + "/kestrani-cli");

    // Good conversions: one kestrani-cli per source and type, timed.
    std::printf("\n%-32s %-6s %-9s %8s %9s %9s %7s  %s\n", "source", "type", "result", "task s",
                "check ms", "decode ms", "share", "reason");
    int goodCases = 0, goodRefused = 0;
    Tally badSources;
    std::vector<double> shares, decodeShares;
    Tally damaged[2][3]; // zeroed, cut; per type
    for (const Source &source : sources) {
        for (int type = 0; type < 3; ++type) {
            const QString out = NewFolder(dir, folders);
            const double cpu = ChildrenCpu();
            const ToolResult run =
                RunTool(cliProgram, {"-t", QString::number(type), "-o", out, source.path}, 600000);
            const double taskSeconds = ChildrenCpu() - cpu;
            const Outcome o = Outcomes(run, 1).value(0);
            const QString name = QFileInfo(source.path).fileName().left(32);
            if (!source.convertible) {
                badSources.Add(o);
                std::printf("%-32s %-6d %-9s %8.2f %9s %9s %7s  %s\n", qPrintable(name), type,
                            o.finished ? "PASSED" : "refused", taskSeconds, "", "", "",
                            qPrintable(o.reason.left(70)));
                continue;
            }
            ++goodCases;
            goodRefused += !o.finished;
            CheckCost cost;
            if (o.finished) {
                const QString output = out + u'/' + FilesIn(out).value(0);
                OutputExpectation expected = source.expected;
                expected.brands = OutputType::Find(type)->Brands();
                const ProfileCatalog catalog(built);
                if (const auto p = catalog.Load(type, catalog.List(type).defaultRow))
                    expected.ReadCheckEntry(p->keys, p->values);
                cost = MeasureCheck(output, expected);
                shares.push_back(cost.seconds / std::max(taskSeconds, 1e-6));
                decodeShares.push_back((cost.seconds - cost.readSeconds) /
                                       std::max(taskSeconds, 1e-6));
                const QString zeroed = Zeroed(output, out + "/zeroed.bin", 3000);
                damaged[0][type].Add({OutputCheck::Verify(zeroed, expected).isEmpty(), true, {}});
                WriteFile(out + "/cut.bin", Contents(output).left(Contents(output).size() * 3 / 4));
                damaged[1][type].Add(
                    {OutputCheck::Verify(out + "/cut.bin", expected).isEmpty(), true, {}});
            }
            std::printf("%-32s %-6d %-9s %8.2f %9.1f %9.1f %6.2f%%  %s\n", qPrintable(name), type,
                        o.finished ? "finished" : "REFUSED", taskSeconds, cost.seconds * 1000,
                        (cost.seconds - cost.readSeconds) * 1000,
                        100 * cost.seconds / std::max(taskSeconds, 1e-6),
                        qPrintable(o.reason.left(70)));
            std::fflush(stdout);
        }
    }

    // Bad outputs from the faulty profiles: one batch per type and fault, the sources it
    // applies to side by side.
    std::printf("\n%-44s %-20s %-20s %-20s\n", "bad output: passed (refused by)", "type 0",
                "type 1", "type 2");
    int badCases = badSources.cases, badPassed = badSources.passed;
    const auto print = [&](const char *name, const Tally *byType) {
        std::printf("%-44s", name);
        for (int type = 0; type < 3; ++type) {
            const Tally &t = byType[type];
            const QString cell = QStringLiteral("%1 of %2 (%3)")
                                     .arg(t.passed)
                                     .arg(t.cases)
                                     .arg(t.byCheck == t.cases - t.passed
                                              ? QStringLiteral("check")
                                              : QStringLiteral("check %1").arg(t.byCheck));
            std::printf(" %-20s", t.cases ? qPrintable(cell) : "n/a");
            badCases += t.cases, badPassed += t.passed;
        }
        std::printf("\n");
        std::fflush(stdout);
    };
    for (int f = 0; f < faultCount; ++f) {
        Tally byType[3];
        for (int type = 0; type < 3; ++type) {
            QStringList files;
            for (const Source &s : sources) {
                const OutputExpectation &e = s.expected;
                if (s.convertible &&
                    faults[f].applies(e.durationSeconds, e.expectSound ? e.soundSeconds : 0,
                                      e.lastPictureSeconds, type))
                    files << s.path;
            }
            if (files.isEmpty())
                continue;
            const ToolResult run =
                RunTool(program + "/kestrani-cli",
                        QStringList{"-t", QString::number(type), "-p", QString::number(f + 1), "-j",
                                    "2", "-o", NewFolder(dir, folders)} +
                            files,
                        3600000);
            for (const Outcome &o : Outcomes(run, int(files.size())))
                byType[type].Add(o);
        }
        print(faults[f].name, byType);
    }
    print("3000 bytes zeroed amid a good output", damaged[0]);
    print("a good output's last quarter cut off", damaged[1]);
    std::printf("%-44s %d of %d (any type)\n", "source that holds no picture to convert",
                badSources.passed, badSources.cases);

    std::printf("\ngood outputs refused: %d of %d\n", goodRefused, goodCases);
    std::printf("bad outputs passed:   %d of %d\n", badPassed, badCases);
    std::printf("read-back check, share of a task's processor time: median %.2f %%, at most "
                "%.2f %%; decoding alone: median %.2f %%, at most %.2f %%\n",
                100 * Median(shares),
                100 * (shares.empty() ? 0 : *std::max_element(shares.begin(), shares.end())),
                100 * Median(decodeShares),
                100 * (decodeShares.empty()
                           ? 0
                           : *std::max_element(decodeShares.begin(), decodeShares.end())));
    return goodRefused == 0 && badPassed == 0 ? 0 : 1;
}
