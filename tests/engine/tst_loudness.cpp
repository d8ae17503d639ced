// SPDX-License-Identifier: GPL-3.0-or-later
// Even loudness with the real tools on short generated clips: the plan's measuring runs and
// its filter as pass 1 applies it, and whole batches with the option and without, read back.
#include "engine.h"

#include "mediacheck/outputcheck.h"
#include "sound/loudnessplanner.h"

#include <cmath>

using namespace support;

namespace {

const SoundFormat amr{8000, 1, SoundFormat::Encoder::AmrNb, 12200};
const SoundFormat aac{44100, 2, SoundFormat::Encoder::Aac, 64000};

// Pink noise in syllables, four a second: speech's rise and fall, its peaks well over its
// loudness. Every noise has its seed, so every run measures the same sound.
QString Syllables(double amplitude)
{
    return QStringLiteral("anoisesrc=color=pink:seed=7:r=44100:amplitude=%1,"
                          "volume='0.2+0.8*pow(abs(sin(2*PI*2*t)),2)':eval=frame")
        .arg(amplitude);
}

// A chord that swells and fades: music as AMR-NB codes it without surprise.
const QString music = QStringLiteral(
    "aevalsrc=exprs='(0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277.2*t)+0.2*sin(2*PI*329.6*t)+0.1*"
    "sin(2*PI*55*t))*(0.6+0.4*sin(2*PI*0.5*t))':s=44100");

// Loud bursts of noise over quiet syllables: a range over 15 LU.
const QString wide = QStringLiteral(
    "anoisesrc=color=pink:seed=7:r=44100:amplitude=0.6,volume='if(between(mod(t,6),4,6),1,"
    "0.15*(0.1+0.9*pow(abs(sin(2*PI*2*t)),4)))':eval=frame");

QString Figure(double v)
{
    return QString::number(v, 'f', 1);
}

// ffmpeg's reading of a file's sound, after the filter given (a conversion, a chain).
LoudnessReading Read(const QStringList &input, const QString &filter = QString())
{
    const ToolResult r =
        RunTool("ffmpeg", QStringList{"-hide_banner", "-nostdin"} + input +
                              QStringList{"-map", "0:a:0", "-af",
                                          filter + "ebur128@read=peak=true:framelog=verbose", "-f",
                                          "null", "-"});
    return MeterReport::Read(r.err).Loudness("read").value_or(LoudnessReading());
}

} // namespace

class TestLoudness : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    EnginePaths paths;

    // A 64x48 clip whose sound a lavfi source makes, AAC stereo at 44.1 kHz.
    static QString SoundClip(const QString &sound, double seconds)
    {
        return SharedClip(Clip{.size = "64x48",
                               .seconds = seconds,
                               .rate = "10",
                               .sound = false,
                               .sar = {},
                               .extra = {"-filter_complex", sound + "[a]", "-map", "0:v", "-map",
                                         "[a]", "-ac", "2"}},
                          "sound.mp4");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY((paths = MakeProgramFolder(dir.filePath("program"))).IsValid());
    }

    // The read-back check's own meter against ffmpeg's ebur128 on the same file: sample
    // videos' sound as phones and cameras code it, and generated sound at its edges.
    void levels_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("AMR-NB from a phone") << MediaFile("filetype_fixture2.3gp");
        QTest::newRow("AAC stereo") << MediaFile("file_with_data_streams.mp4");
        QTest::newRow("AAC 5.1") << MediaFile("rotate-buck-bunny.mp4");
        QTest::newRow("MP2, loud and bright") << MediaFile("weird_aspect.small.mpg");
        QTest::newRow("a quarter of the rate: peaks between samples")
            << SoundClip("aevalsrc=exprs='0.5*sin(2*PI*11025*t+PI/4)':s=44100", 2);
        QTest::newRow("silence") << SoundClip("anullsrc=r=44100", 2);
        QTest::newRow("shorter than one 400 ms block") << SoundClip(Syllables(0.5), 0.3);
    }
    void levels()
    {
        QFETCH(QString, file);
        OutputExpectation expected;
        expected.meterSound = true;
        SoundLevels ours;
        QVERIFY(!file.isEmpty());
        OutputCheck::Verify(file, expected, &ours);
        const LoudnessReading theirs = Read({"-i", "file:" + file});
        // ffmpeg prints one decimal: the two agree within its rounding (a peak a little
        // wider: ffmpeg interpolates to 192 kHz, this meter to four times the rate).
        const auto near = [](double a, double b, double within) {
            return a == b || std::abs(a - b) <= within;
        };
        QVERIFY2(near(ours.integrated, theirs.integrated, 0.06),
                 qPrintable(Figure(ours.integrated) + " against " + Figure(theirs.integrated)));
        QVERIFY2(near(ours.truePeak, theirs.truePeak, 0.15),
                 qPrintable(Figure(ours.truePeak) + " against " + Figure(theirs.truePeak)));
    }

    // The plan's measuring runs run for real, then its filter applied to the part as pass 1
    // applies it: within 0.5 LU of what the plan aims at before the encoder, peaks at most
    // half a dB over the ceiling (the limiter's own margin); or the sound left, saying why.
    void planned_data()
    {
        QTest::addColumn<bool>("isAmr");
        QTest::addColumn<QString>("sound");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("part"); // start and length
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, bool isAmr, const QString &sound, const char *outcome,
                            double seconds = 2, const char *part = "0.500 1.000") {
            QTest::newRow(name) << isAmr << sound << seconds << QString(part) << QString(outcome);
        };
        row("syllables into AMR: limiter, gain measured", true, Syllables(0.5), "set limited");
        row("bursts the limiter cannot bring up: held under the target", false,
            "anoisesrc=color=pink:seed=7:r=44100:amplitude=0.5,"
            "volume='if(lt(mod(t,0.5),0.06),1,0.03)':eval=frame",
            "set limited held");
        row("a wide range is narrowed", false, wide, "set limited compressed", 12, "0.000 12.000");
        row("quieter than 24 dB can lift", false,
            "anoisesrc=color=pink:seed=7:r=44100:amplitude=0.03", "set capped");
        row("trimmed past the sound's end", false, Syllables(0.3),
            "left: the part to convert has no sound", 2, "10.000 2.000");
    }
    void planned()
    {
        QFETCH(bool, isAmr);
        QFETCH(QString, sound);
        QFETCH(double, seconds);
        QFETCH(QString, part);
        const QString clip = SoundClip(sound, seconds);
        QVERIFY(!clip.isEmpty());
        const SoundFormat format = isAmr ? amr : aac;
        const QStringList trim{"-ss", part.section(' ', 0, 0), "-t", part.section(' ', 1, 1)};
        LoudnessPlanner planner(-16, format, {clip, "0:a:0", trim[1], trim[3]});
        for (int runs = 0; !planner.Done(); ++runs) {
            QVERIFY(runs < 3);
            const QStringList run = planner.NextRun();
            const ToolResult r = RunTool(run.front(), run.mid(1));
            planner.TakeRun(r.out + r.err, r.ok());
        }
        const LoudnessPlan &plan = planner.Plan();
        QString outcome = plan.leftAsItIs ? "left: " + plan.note.section(u';', 0, 0) : "set";
        if (!plan.leftAsItIs) {
            outcome += plan.limited ? " limited" : "";
            outcome += std::isnan(plan.compressorThreshold) ? "" : " compressed";
            outcome += plan.note.contains("most allowed") ? " capped" : "";
            outcome += plan.note.contains("peaks allow") ? " held" : "";
        }
        QTEST(outcome, "outcome");
        if (plan.leftAsItIs)
            return;
        // Pass 1's sound as the profile's rate and channels make it, read as it comes out.
        const LoudnessReading r =
            Read(trim + QStringList{"-i", "file:" + clip}, plan.Filter() + ",");
        const double goal = plan.expected + format.LoudnessAllowance();
        QVERIFY2(std::abs(r.integrated - goal) <= 0.5,
                 qPrintable(Figure(r.integrated) + " LUFS for " + Figure(goal)));
        if (plan.limited)
            QVERIFY2(r.truePeak <= plan.ceiling + 0.5, qPrintable(Figure(r.truePeak) + " dBTP"));
    }

    // Whole batches of one task through a profile (the first, smallest and quickest, by default),
    // with the option (a target) or without (NaN): the task finishes, and its file's sound
    // reads within 1 LU of the target and peaks at or under -1 dBTP ("evened"), or reads as
    // the source's did in the output's rate and channels (the encoder's own change at 64 kbit/s
    // and 22 kHz mono is under 1 LU); the log's entry for the task says what it must ("" for
    // no NOTE).
    void batch_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("profile"); // row
        QTest::addColumn<double>("target");
        QTest::addColumn<QString>("sound");   // a lavfi source
        QTest::addColumn<QString>("part");    // begin and end, seconds
        QTest::addColumn<QString>("outcome"); // "evened", or the output's rate:layout
        QTest::addColumn<QString>("note");
        const auto row = [](const char *name, int type, double target, const QString &sound,
                            const char *outcome, const char *note = "",
                            const char *part = "0.5 2.0", int profile = 0) {
            QTest::newRow(name) << type << profile << target << sound << QString(part)
                                << QString(outcome) << QString(note);
        };
        row("music into 3GP with AMR", 0, -16, music, "evened", "", "0.5 2.0", 2);
        row("into 3G2 at -23 LUFS", 2, -23, Syllables(0.3), "evened");
        row("noise AMR's smallest mode takes far more from: evened on the second try", 0, -16,
            Syllables(0.9), "evened", "it is converted once more with the gain at");
        row("a wide range, narrowed, then evened", 1, -16, wide, "evened", "", "0 12");
        row("silent: finished, left as it is", 1, -16, "anullsrc=r=44100", "22050:mono",
            "the sound is silent; it is left as it is.");
        row("too short: finished, left as it is", 0, -16, Syllables(0.3), "8000:mono",
            "the sound lasts 0.30 s, less than the 0.4 s", "0.5 0.8");
        row("without the option the sound is as it was", 1, NAN, Syllables(0.5), "44100:stereo", "",
            "0.5 2.0", 2);
    }
    void batch()
    {
        QFETCH(int, type);
        QFETCH(int, profile);
        QFETCH(double, target);
        QFETCH(QString, sound);
        QFETCH(QString, part);
        const double begin = part.section(' ', 0, 0).toDouble();
        const double end = part.section(' ', 1, 1).toDouble();
        const QString source = SoundClip(sound, sound == wide ? 12 : 3);
        QVERIFY(!source.isEmpty());
        const QString out = NewFolder(dir, folders);
        QFile::remove(paths.logFile); // this task's entries alone
        Batch batch(paths, type, out);
        batch.host.profileRow = profile;
        batch.Add(source, end, begin);
        BatchOptions options;
        if (!std::isnan(target))
            options.loudnessTarget = target;
        batch.engine.SetOptions(options);
        QVERIFY(batch.Run(120000));
        QVERIFY2(batch.Finished(0), qPrintable(TaskEntry(paths, 0)));
        const LoudnessReading r = Read({"-i", "file:" + batch.OutputOf(0)});
        QFETCH(QString, outcome);
        if (outcome == "evened") {
            QVERIFY2(std::abs(r.integrated - target) <= 1.0, qPrintable(Figure(r.integrated)));
            QVERIFY2(r.truePeak <= -1.0, qPrintable(Figure(r.truePeak)));
        } else {
            const LoudnessReading before =
                Read({"-ss", QString::number(begin), "-t", QString::number(end - begin), "-i",
                      "file:" + source},
                     "aformat=sample_rates=" + outcome.replace(':', ":channel_layouts=") + ",");
            QVERIFY2(std::abs(r.integrated - before.integrated) <= 1.0 ||
                         (r.integrated <= -70 && before.integrated <= -70),
                     qPrintable(Figure(r.integrated) + " against " + Figure(before.integrated)));
        }
        QFETCH(QString, note);
        const QString entry = TaskEntry(paths, 0);
        QVERIFY2(note.isEmpty() ? entry.isEmpty() : entry.contains(note), qPrintable(entry));
    }
};

QTEST_GUILESS_MAIN(TestLoudness)
#include "tst_loudness.moc"
