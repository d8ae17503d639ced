// SPDX-License-Identifier: GPL-3.0-or-later
// The loudness option's plan: what ffmpeg's meters print, read back; the sound each shipped
// profile makes; the plan made from what the measuring runs print; the read-back check's
// verdict on a finished file's reading.
#include "engine.h"

#include "profiles/commandtemplate.h"
#include "profiles/profilecatalog.h"
#include "sound/loudnessplanner.h"

#include <cmath>

using namespace support;

namespace {

const SoundFormat amr{8000, 1, SoundFormat::Encoder::AmrNb, 12200}; // 3GP with AMR, profile 3
const SoundFormat aac{44100, 2, SoundFormat::Encoder::Aac, 64000};  // 3GP with AAC, profile 3

QString Figure(double v)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', 1);
}

// A summary and astats lines as ffmpeg 5.1 prints them for one instance.
QByteArray Printed(const QString &name, double i, double lra, double tp, double dc = 0.0,
                   double samples = 48000)
{
    return QStringLiteral("[ebur128@%1 @ 0x55d0c0a1e2c0] Summary:\n\n  Integrated loudness:\n"
                          "    I:         %2 LUFS\n    Threshold: %3 LUFS\n\n  Loudness range:\n"
                          "    LRA:        %4 LU\n    Threshold: %5 LUFS\n    LRA low:   %5 LUFS\n"
                          "    LRA high:  %6 LUFS\n\n  True peak:\n    Peak:       %7 dBFS\n"
                          "[astats@%1 @ 0x55d0c0a1c9c0] Overall\n"
                          "[astats@%1 @ 0x55d0c0a1c9c0] DC offset: %8\n"
                          "[astats@%1 @ 0x55d0c0a1c9c0] Number of samples: %9\n"
                          "[astats@peak @ 0x55d0c0a1c9d0] Peak level dB: %7\n")
        .arg(name, Figure(i), Figure(i - 10), Figure(lra), Figure(i - lra - 2), Figure(i + 2),
             std::isinf(tp) ? QStringLiteral("-inf") : Figure(tp), QString::number(dc, 'f', 6))
        .arg(samples)
        .toUtf8();
}

// What a plan does, in a few words: "left: the sound is silent", "gain 9.3 limit -5.0".
QString Outcome(const LoudnessPlanner &planner)
{
    const LoudnessPlan &p = planner.Plan();
    if (p.leftAsItIs)
        return QStringLiteral("left: ") + p.note.section(u';', 0, 0);
    if (planner.NextRun().join(u' ').contains("ebur128@shaped"))
        return QStringLiteral("compress, then measure again");
    QString text = QStringLiteral("gain ") + Figure(p.gain);
    if (p.limited)
        text += QStringLiteral(" limit ") + Figure(p.ceiling);
    if (!planner.Done())
        text += QStringLiteral(" then %1 gains").arg(planner.NextRun().count("-f"));
    if (p.expected != p.target)
        text += QStringLiteral(" expect ") + Figure(p.expected);
    return text;
}

} // namespace

class TestSound : public QObject
{
    Q_OBJECT

private slots:
    // ffmpeg's printed summaries read back: I, LRA, its low and high ends, true peak ("-" for
    // none), and astats' DC offset and sample count.
    void meterReport_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("figures"); // then DC offset and number of samples
        const auto row = [](const char *name, const QByteArray &text, const char *figures) {
            QTest::newRow(name) << text << QString(figures);
        };
        const QByteArray measured = Printed("source", -23.1, 1.4, -8.3, 0.000645, 88200);
        row("status lines with carriage returns, then the summary and stats",
            "size=N/A time=00:00:02.00 bitrate=N/A speed= 201x    \rsize=N/A time=00:00:03.00 "
            "bitrate=N/A speed= 211x    \nvideo:0kB audio:94kB subtitle:0kB\n" +
                measured,
            "-23.1 1.4 -26.5 -21.1 -8.3 0.000645 88200");
        row("empty summary of a graph configured twice, then the real one",
            Printed("source", -70, 0, -INFINITY, NAN, 0) + measured,
            "-23.1 1.4 -26.5 -21.1 -8.3 0.000645 88200");
        row("silence: minus infinity peak, -nan offset",
            "[ebur128@source @ 0x1] Summary:\n\n  Integrated loudness:\n    I:         -70.0 LUFS\n"
            "  True peak:\n    Peak:       -inf dBFS\n[astats@source @ 0x2] DC offset: -nan\n",
            "-70.0 - - - -inf nan -");
        row("another instance's summary is not this one's", Printed("branch0", -16, 3, -4),
            "no summary - -");
        row("cut in the middle of the summary", measured.left(measured.indexOf("LRA low")),
            "-23.1 1.4 - - - - -");
        row("a line from elsewhere ends the summary",
            "[ebur128@source @ 0x1] Summary:\n  Integrated loudness:\n    I: -20.0 LUFS\n"
            "something else\n  True peak:\n    Peak: -3.0 dBFS\n",
            "-20.0 - - - - - -");
        row("numbers with junk after them are not numbers",
            "[ebur128@source @ 0x1] Summary:\n  Integrated loudness:\n    I: -20.0x LUFS\n"
            "  True peak:\n    Peak: 1e999 dBFS\n[astats@source @ 0x2] DC offset: 0,5\n",
            "- - - - - - -");
        row("brackets without a name, colons without keys",
            QByteArray("[] Summary:\n[ @ 0x] Summary:\n[x @ ] :\n[source @ 0x1]\n:\n    I: -1 "
                       "LUFS\n") +
                QByteArray(1, '\0') + "\xff[\n",
            "no summary - -");
    }
    void meterReport()
    {
        QFETCH(QByteArray, text);
        const MeterReport report = MeterReport::Read(text);
        const std::optional<LoudnessReading> r = report.Loudness("source");
        const auto stat = [&](const char *key) {
            const std::optional<double> v = report.Stat("source", key);
            return !v ? QStringLiteral("-") : QString::number(*v, 'g', 6);
        };
        const QStringList figures =
            !r ? QStringList{"no summary"}
               : QStringList{Figure(r->integrated), Figure(r->range), Figure(r->rangeLow),
                             Figure(r->rangeHigh), Figure(r->truePeak)};
        QTEST((figures + QStringList{stat("DC offset"), stat("Number of samples")}).join(u' '),
              "figures");
    }

    // The sound each shipped profile makes, read from its passes: rate, channels, encoder and
    // its rate (a profile whose sound cannot be read is not evened at all).
    void shippedFormats_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("formats"); // profile by profile
        QTest::newRow("3GP with AMR")
            << 0
            << "8000 1 amr 5150|8000 1 amr 7400|8000 1 amr 12200|8000 1 amr 12200|8000 1 amr 12200";
        const QString aacFormats = "22050 1 aac 32000|32000 2 aac 48000|44100 2 aac 64000|"
                                   "44100 2 aac 96000";
        QTest::newRow("3GP with AAC") << 1 << aacFormats + "|44100 2 aac 128000";
        QTest::newRow("3G2 with AAC") << 2 << aacFormats;
    }
    void shippedFormats()
    {
        QFETCH(int, type);
        const ProfileCatalog catalog(EnginePaths::ForProgramFolder(KESTRANI_PROGRAM_DIR));
        QStringList formats;
        for (int row = 0; const std::optional<Profile> p = catalog.Load(type, row); ++row) {
            QList<QStringList> passes;
            for (int pass = 1; !p->PassTemplate(pass).isEmpty(); ++pass)
                passes.append(CommandTemplate::ExpandArguments(p->PassTemplate(pass), {}));
            const std::optional<SoundFormat> f = SoundFormat::FromPasses(passes);
            QVERIFY(f);
            formats.append(QStringLiteral("%1 %2 %3 %4")
                               .arg(f->sampleRate)
                               .arg(f->channels)
                               .arg(f->encoder == SoundFormat::Encoder::AmrNb ? "amr" : "aac")
                               .arg(f->bitsPerSecond));
        }
        QTEST(formats.join(u'|'), "formats");
    }

    // The plan made from the first run's reading of a 12 s part (rate, channels, encoder as 3GP
    // with AMR or with AAC make it; target -16 LUFS): what is left as it is and why, the gain,
    // the limiter's ceiling, the compressor, and whether a second run measures more gains. Then
    // for peaky sound (-30 LUFS, peaks at -10 dBTP into AMR), the second run's loudness at its
    // three gains (14.4, 17.4 and 20.4 dB) and the gain chosen for the -15.6 LUFS that comes out
    // at -16 after the encoder.
    void decision_data()
    {
        QTest::addColumn<bool>("isAmr");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QList<double>>("levels"); // the second run's, if any
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, bool isAmr, const QByteArray &printed,
                            const QString &outcome, const QList<double> &levels = {}) {
            QTest::newRow(name) << isAmr << printed << levels << outcome;
        };
        const double part = 12 * 8000;
        const QByteArray peaky = Printed("source", -30, 4, -10, 0, part);
        row("quiet sound with a small DC offset goes up, AMR's loss made up", true,
            Printed("source", -30, 4, -20, 0.002, part), "gain 14.4");
        row("peaks just over the ceiling: limiter, no second run", true,
            Printed("source", -30, 4, -19, 0, part), "gain 14.4 limit -5.0");
        row("peaky sound: limiter and a second run at three gains", true, peaky,
            "gain 14.4 limit -5.0 then 3 gains");
        row("AAC: no loss to make up, its own ceiling", false,
            Printed("source", -20, 4, -8, 0, 12 * 44100), "gain 4.0 limit -5.5 then 3 gains");
        row("29 dB under the target: raised by 24 dB", true,
            Printed("source", -45, 4, -30, 0, part), "gain 24.4 expect -21.0");
        row("wide range over 12 s: compressed, then measured again", true,
            Printed("source", -20, 20, -10, 0, part), "compress, then measure again");
        row("wide range over 5 s: a range too short to trust", true,
            Printed("source", -20, 20, -10, 0, 5 * 8000), "gain 4.4");
        row("mostly a DC offset", true, Printed("source", -37.5, 20, -12, 0.25, part),
            "left: the sound is mostly a DC offset (-12.0 dBFS against -37.5 LUFS of sound), "
            "which a gain would only raise");
        row("silent", true, Printed("source", -70, 0, -INFINITY, NAN, part),
            "left: the sound is silent");
        row("a noise floor under -70 LUFS", true, Printed("source", -70, 0, -60, 0, part),
            "left: the sound is near silence (under -70 LUFS)");
        row("near silence at -57 LUFS", true, Printed("source", -57.1, 0, -46, 0, part),
            "left: the sound is near silence (-57.1 LUFS)");
        row("shorter than a 400 ms block", true, Printed("source", -70, 0, -6, 0, 2400),
            "left: the sound lasts 0.30 s, less than the 0.4 s a loudness reading needs");
        row("trimmed past the sound's end", true, Printed("source", -70, 0, -INFINITY, NAN, 0),
            "left: the part to convert has no sound");
        row("nothing readable printed", true, "file:/v/a.mp4: Invalid data found\n",
            "left: no sound could be read from the part to convert");
        row("second run: between two gains", true, peaky, "gain 19.2 limit -5.0",
            {-18, -16.5, -15});
        row("second run: past the last gain, still rising steadily", true, peaky,
            "gain 21.4 limit -5.0", {-20, -18, -16.2});
        row("second run: past the last gain, rising too little: held under the target", true, peaky,
            "gain 20.4 limit -5.0 expect -19.1", {-20.2, -19.6, -18.7});
        row("second run: falling past its top: the loudest gain measured", true, peaky,
            "gain 17.4 limit -5.0 expect -18.9", {-19.0, -18.5, -18.9});
        row("second run: a gain without its summary: the first gain stays", true, peaky,
            "gain 14.4 limit -5.0", {-17, -15});
    }
    void decision()
    {
        QFETCH(bool, isAmr);
        QFETCH(QByteArray, printed);
        QFETCH(QList<double>, levels);
        LoudnessPlanner planner(-16, isAmr ? amr : aac, {"/v/a.mp4", "0:a:0", "0.000", "12.000"});
        planner.TakeRun(printed, true);
        printed.clear();
        for (qsizetype k = 0; k < levels.size(); ++k)
            printed += Printed(QStringLiteral("branch%1").arg(k), levels[k], 4, -5);
        if (!levels.isEmpty())
            planner.TakeRun(printed, true);
        QTEST(Outcome(planner), "outcome");
    }

    // A finished file's reading against a plan (gain 10 dB, target -16 LUFS into AMR; with or
    // without the limiter at AMR's -5 dBTP): the check's words, and the plan for another try.
    void verdict_data()
    {
        QTest::addColumn<bool>("limited");
        QTest::addColumn<double>("integrated");
        QTest::addColumn<double>("truePeak");
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QString>("retry");       // gain and ceiling, or "none"
        QTest::addColumn<QList<double>>("tried"); // the try before: its gain and reading
        const auto row = [](const char *name, bool limited, double integrated, double truePeak,
                            const char *faults, const char *retry, QList<double> tried = {}) {
            QTest::newRow(name) << limited << integrated << truePeak << QString(faults)
                                << QString(retry) << tried;
        };
        const char *under = "sound is -17.5 LUFS instead of -16.0 LUFS";
        row("1 LU under is still on target; the ceiling rises with the room left", true, -17.0,
            -2.0, "", "gain 11.0 limit -4.5");
        row("an encoder that lowered the peaks far: the ceiling no higher than -1.5", true, -19.0,
            -8.0, "sound is -19.0 LUFS instead of -16.0 LUFS", "gain 13.0 limit -1.5");
        row("too loud and over the peak limit", true, -14.5, -0.6,
            "sound is -14.5 LUFS instead of -16.0 LUFS; sound peaks at -0.6 dBTP, above -1.0 dBTP",
            "gain 8.5 limit -5.9");
        row("no limiter yet, peaks that the new gain brings over", false, -17.5, -2.8, under,
            "gain 11.5 limit -5.2");
        row("no limiter, peaks far under", false, -17.5, -9.0, under, "gain 11.5");
        row("nothing left to measure", true, -70.0, -40.0,
            "sound cannot be measured for its loudness", "none");
        row("more than 6 dB off: a second try would not help", true, -23.5, -9.0,
            "sound is -23.5 LUFS instead of -16.0 LUFS", "none");
        row("a third try: the gain along the line through both tries", true, -13.0, -2.0,
            "sound is -13.0 LUFS instead of -16.0 LUFS", "gain 8.5 limit -4.5", {7.0, -19.0});
        row("a third try where the loudness hardly followed the gain: the miss alone", true, -17.4,
            -2.0, "sound is -17.4 LUFS instead of -16.0 LUFS", "gain 11.4 limit -4.5",
            {8.6, -17.6});
    }
    void verdict()
    {
        QFETCH(bool, limited);
        QFETCH(QList<double>, tried);
        QFETCH(double, integrated);
        QFETCH(double, truePeak);
        LoudnessPlan plan{.format = amr,
                          .leftAsItIs = false,
                          .gain = 10.0,
                          .limited = limited,
                          .ceiling = amr.PeakCeiling(),
                          .note = {},
                          .triedGain = tried.value(0, NAN),
                          .triedLoudness = tried.value(1, NAN)};
        const LoudnessReading finished{.integrated = integrated, .truePeak = truePeak};
        QTEST(plan.Verify(finished), "faults");
        const std::optional<LoudnessPlan> next = plan.Retry(finished);
        QTEST(!next ? QStringLiteral("none")
                    : QStringLiteral("gain ") + Figure(next->gain) +
                          (next->limited ? QStringLiteral(" limit ") + Figure(next->ceiling) : ""),
              "retry");
        plan.leftAsItIs = true;
        QCOMPARE(plan.Verify(finished), QString()); // sound left as it is is not checked
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
