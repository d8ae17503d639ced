// SPDX-License-Identifier: GPL-3.0-or-later
// What a size limit makes of a task: the limit as typed, what the profiles offer to it, the
// rates a trimmed length gets, the parts a long one is cut into, and the tools' arguments
// for a plan. tst_fitruns runs them with the real tools.
#include "shipped.h"

#include "batchoptions.h"
#include "fit/fitarguments.h"
#include "fit/partplan.h"
#include "fit/rateplan.h"

#include <limits>

using namespace support;

class TestFit : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;

    static FitTask Task(double seconds, bool sound)
    {
        FitTask task;
        task.seconds = seconds, task.hasSound = sound, task.titleBytes = 20;
        return task;
    }

private slots:
    void initTestCase() { QVERIFY((paths = MakeProgramFolder(dir.path())).IsValid()); }

    // A limit as the window and --max-size take it: K is 1024 bytes, M 1024 K; what is no
    // limit is refused with the reason, and so is one that holds no second of any shipped
    // profile: the least a limit may be is one second of the smallest, in whole KB. Every
    // shipped profile is one a limit can fit: it says all of it.
    void sizeLimit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result"); // the limit as shown, or the refusal
        const auto row = [](const char *name, const char *text, const char *result) {
            QTest::newRow(name) << QString(text) << QString(result);
        };
        const char *notSize = "is not a size: write it as 300K, 1M or a number of bytes";
        row("K is 1024 bytes", "300K", "300 KB");
        row("M is 1024 K", "1M", "1 MB");
        row("bytes", "1048576", "1 MB");
        row("units written out, blanks around", " 600 KB ", "600 KB");
        row("a fraction of a unit", "1.5M", "1.5 MB");
        row("zero, or under a byte", "0.0001K", "the largest file must be more than 0 bytes");
        row("negative", "-5K", notSize);
        row("an exponent", "1e6", notSize);
        row("shell characters after the number", "300K; rm -rf ~", notSize);
        row("more digits than any integer", "99999999999999999999999",
            "the size 99999999999999999999999 is too large");
        row("under a second of any profile", "4K",
            "4 KB is too small: no profile fits even a second of video in it (at least 5 KB)");
        row("a second of the smallest", "5K", "5 KB");
    }
    void sizeLimit()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QString problem;
        const std::optional<qint64> bytes = BatchOptions::ParseSize(text, &problem);
        const QString shown = bytes ? BatchOptions::SizeText(*bytes) : problem;
        QVERIFY2(shown == result || shown.endsWith(result), qPrintable(shown));
        qint64 smallest = std::numeric_limits<qint64>::max();
        for (int type = 0; type < OutputType::count; ++type)
            for (int row = 0; row < ProfileCatalog(paths).List(type).titles.size(); ++row) {
                const FitProfile fit = ShippedFit(paths, type, row);
                QVERIFY(fit.IsValid() && fit.PictureRate().IsKnown() &&
                        !Shipped(paths, type, row).Entry("Fit").isEmpty());
                smallest = qMin(smallest, RatePlan::SmallestLimit(fit, Task(1, true)));
            }
        QVERIFY(smallest <= BatchOptions::minimumFileBytes &&
                smallest > BatchOptions::minimumFileBytes - 1024);
    }

    // What each shipped profile lets a limit lower, read from its passes and its Fit entry:
    // the picture's own rate and its lowest, the sound from its own rate down to its lowest,
    // and the picture rate its first pass gives a 30 fps source. A profile that says less is
    // refused with the reason, or takes defaults where it only lacks the Fit entry.
    void profileData_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("row"); // -1: the profile below instead of a shipped one
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("offers");
        const auto shipped = [](const char *name, int type, int row, const char *offers) {
            QTest::newRow(name) << type << row << QString() << QString(offers);
        };
        shipped("H.263 and AMR", 0, 2, "112k..32k MR122..MR475 (8) 15000/1001");
        shipped("MPEG-4 and AAC mono", 1, 0, "96k..24k 32k..16k (3) 15");
        const QString pass1 = "ffmpeg -i x -vf \"fps=fps='min(source_fps,15)'\" -c:v mpeg4 "
                              "-b:v 200k -maxrate 150k -ar 22050 -f mov out";
        const QString passes = "[p]\nTitle=t\nPass1=" + pass1 + "\nPass2=ffmpeg -b:a 48k\n";
        const auto own = [](const char *name, const QString &profile, const char *offers) {
            QTest::newRow(name) << 1 << -1 << profile << QString(offers);
        };
        own("no Fit entry: a quarter of the picture, the sound kept", passes,
            "150k..37.5k 48k..48k (1) 15");
        own("the level's cap below -b:v", passes + "Fit=50k 24k", "150k..50k 48k..24k (4) 15");
        const char *badFit = "is not written as \"LOWEST-PICTURE LOWEST-SOUND\" below its own "
                             "rates (\"32k MR475\")";
        own("Fit entry of one word", passes + "Fit=50k", badFit);
        own("Fit entry above the profile's rates", passes + "Fit=400k 96k", badFit);
        own("an AMR mode as an AAC rate", passes + "Fit=50k MR475", badFit);
        own("no picture rate",
            "[p]\nTitle=t\nPass1=ffmpeg -i x -q:v 3 out\nPass2=ffmpeg -b:a 48k\n",
            "its first pass sets no picture rate (-b:v)");
        own("no sound rate", "[p]\nTitle=t\nPass1=" + pass1 + "\nPass2=ffmpeg -c:a copy\n",
            "none of its passes sets a sound rate (--mode or -b:a)");
        own("a sound rate not known", "[p]\nTitle=t\nPass1=" + pass1 + "\nPass2=ffmpeg -b:a 47k\n",
            "its sound rate \"47k\" is not one this program knows");
    }
    void profileData()
    {
        QFETCH(int, type);
        QFETCH(int, row);
        QFETCH(QString, profile);
        Profile read = Shipped(paths, type, row);
        if (row < 0) {
            const EnginePaths own = MakeProgramFolder(
                dir.filePath(QTest::currentDataTag()),
                {{"3GP_AAC_Profile.ini", "[Info]\nDescription=d\nDefaultProfile=1\n" + profile}});
            read = ProfileCatalog(own).Load(type, 0).value();
        }
        QString error;
        const FitProfile fit = FitProfile::Read(read, 2, &error);
        QCOMPARE(fit.IsValid(), error.isEmpty());
        const auto k = [](double bits) { return QString::number(bits / 1000) + u'k'; };
        const QString shown = fit.IsValid()
                                  ? QStringLiteral("%1..%2 %3..%4 (%5) %6")
                                        .arg(k(fit.PictureBits()), k(fit.LowestPictureBits()),
                                             fit.Sounds().first().value, fit.Sounds().last().value)
                                        .arg(fit.Sounds().size())
                                        .arg(fit.PictureRate().For(FrameRate::Parse("30")).Text())
                                  : error;
        QFETCH(QString, offers); // a refusal quoting the Fit entry ends with the reason
        QVERIFY2(shown == offers || (!fit.IsValid() && shown.endsWith(offers)), qPrintable(shown));
    }

    // The picture rate a first pass gives a source: H.263's whole ticks of the 30000/1001
    // clock, at least two (or three) of them and at most fifteen; otherwise the source's rate
    // up to a cap, and from a floor where a slide show's pictures are repeated.
    void pictureRate_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        const QString ticks2 = "fps=fps='30000/1001/max(2,ceil(30000/1001/source_fps-0.001))'";
        const QString ticks3 = "fps=fps='30000/1001/max(3,ceil(30000/1001/source_fps-0.001))'";
        const QString capped = "fps=fps='min(source_fps,15)':start_time=0";
        const QString ticksMost =
            "fps=fps='30000/1001/min(15,max(2,ceil(30000/1001/source_fps-0.001)))'";
        const QString floored = "fps=fps='max(2,min(source_fps,15))':start_time=0";
        const auto row = [](const char *name, const QString &filter, const char *source,
                            const char *output) {
            QTest::newRow(name) << filter << QString(source) << QString(output);
        };
        row("H.263: 30 fps gives two ticks", ticks2, "30", "15000/1001");
        row("H.263: 10 fps gives three ticks", ticks2, "10", "10000/1001");
        row("H.263: never faster than three ticks", ticks3, "30", "10000/1001");
        row("H.263: rate not known", ticks2, "", "15000/1001");
        row("H.263: a slide show repeated up to two a second", ticksMost, "1", "2000/1001");
        row("H.263 with a most: 10 fps still three ticks", ticksMost, "10", "10000/1001");
        row("capped: a faster source", capped, "30", "15");
        row("floored: a slide show repeated up to two a second", floored, "1", "2");
        row("floored: a slower source above it keeps its rate", floored, "10", "10");
        row("capped: a variable rate's average", capped, "3628800/502589", "3628800/502589");
        row("capped: written as a decimal", capped, "12.5", "25/2");
        row("capped: rate not known", capped, "0", "15");
        row("no fps filter", "scale=176:144", "30", "");
        row("another expression", "fps=fps='source_fps/2'", "30", "");
    }
    void pictureRate()
    {
        QFETCH(QString, filter);
        QFETCH(QString, source);
        const PictureRateRule rule =
            PictureRateRule::FromPassTemplate("ffmpeg -i x -vf \"" + filter + "\" out");
        const FrameRate rate = rule.For(FrameRate::Parse(source));
        QTEST(rate.IsValid() ? rate.Text() : QString(), "output");
    }

    // The rates a trimmed length gets under a limit: a short clip keeps the profile's, a
    // longer one lowers the picture down to what is worth watching, then the sound, and what
    // not even the lowest rates hold is too long, with the longest length that fits. Every
    // plan that fits is estimated under the limit it aims at.
    void ratePlan_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("plan"); // "own" rates, "picture" lowered, or the sound's rate
        const auto row = [](const char *name, int type, int row, const char *limit, double seconds,
                            bool sound, const char *plan) {
            QTest::newRow(name) << type << row << QString(limit) << seconds << sound
                                << QString(plan);
        };
        row("a short clip keeps the profile's rates", 0, 2, "300K", 10, true, "own");
        row("a longer one lowers the picture first", 0, 2, "300K", 25, true, "picture MR122");
        row("then the sound, down to what is left", 0, 2, "300K", 60, true, "picture MR475");
        row("too long even at the lowest", 0, 2, "300K", 120, true,
            "at most 1 min fits in 300 KB with this profile: trim it, split it, or pick a "
            "smaller profile");
        row("without sound the picture takes it all", 0, 2, "300K", 60, false, "picture");
        row("AAC steps down its own rates", 1, 1, "600K", 80, true, "picture 32k");
        row("not a second fits", 1, 4, "8K", 10, true,
            "not even a second fits in 8 KB with this profile: pick a smaller profile or allow "
            "larger files");
    }
    void ratePlan()
    {
        QFETCH(int, type);
        QFETCH(int, row);
        QFETCH(double, seconds);
        QFETCH(bool, sound);
        QFETCH(QString, limit);
        const qint64 bytes = BatchOptions::ParseSize(limit).value_or(0);
        const FitProfile fit = ShippedFit(paths, type, row);
        const FitTask task = Task(seconds, sound);
        const RatePlan plan = RatePlan::For(fit, bytes, task);
        QString shown;
        if (!plan.Fits()) {
            shown = RatePlan::TooLongMessage(RatePlan::LongestFit(fit, bytes, task), bytes);
        } else if (!plan.Lowered()) {
            shown = "own";
        } else {
            shown = sound ? "picture " + plan.Sound().value : QStringLiteral("picture");
            QVERIFY(plan.PictureBits() >= fit.LowestPictureBits());
            QVERIFY(plan.PictureBits() <= fit.PictureBits());
        }
        QTEST(shown, "plan");
        if (plan.Fits())
            QVERIFY(plan.EstimatedBytes() <= qint64(double(bytes) * RatePlan::aim) + 1);
        // The longest length that fits is where a plan starts to fail, to the millisecond.
        FitTask edge = task;
        edge.seconds = RatePlan::LongestFit(fit, bytes, task);
        QCOMPARE(RatePlan::For(fit, bytes, edge).Fits(), edge.seconds > 0);
        edge.seconds += 0.001;
        QVERIFY(!RatePlan::For(fit, bytes, edge).Fits());
    }

    // Lengths in the messages as people say them: whole seconds, rounded down.
    void wording_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("minutes and seconds") << 112.9 << "1 min 52 s";
        QTest::newRow("whole minutes") << 120.0 << "2 min";
        QTest::newRow("hours") << 3725.0 << "1 h 2 min 5 s";
        QTest::newRow("under a second") << 0.4 << "0 s";
    }
    void wording()
    {
        QFETCH(double, seconds);
        QTEST(RatePlan::DurationText(seconds), "text");
    }

    // A plan after its tools said more: the sound measured at its rate (simple sound takes AAC
    // far less than its rate), and a file over the limit, whose next try takes back what the
    // picture spent too much. Every picture rate stays within the profile's own.
    void replan_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("soundShare"); // of the planned sound bytes
        QTest::addColumn<double>("overshoot");  // of the picture, on each try
        QTest::addColumn<QString>("result");    // the picture rate's change, the tries
        QTest::newRow("little sound leaves the picture more") << 1 << 0.1 << 1.0 << "up, 0 tries";
        QTest::newRow("more sound takes it from the picture") << 1 << 1.1 << 1.0 << "down, 0 tries";
        QTest::newRow("6 % over fits on the next try") << 0 << 1.0 << 1.06 << "same, 1 tries";
    }
    void replan()
    {
        QFETCH(int, type);
        QFETCH(double, soundShare);
        QFETCH(double, overshoot);
        const qint64 limit = 600 * 1024;
        const FitProfile fit = ShippedFit(paths, type, type == 0 ? 2 : 1);
        const RatePlan first = RatePlan::For(fit, limit, Task(60, true));
        const double planned = fit.Sounds().first().bytesPerSecond * 60;
        RatePlan plan = first.WithSoundBytes(qint64(planned * soundShare));
        QVERIFY(plan.PictureBits() <= fit.PictureBits());
        const double other = double(plan.EstimatedBytes()) - plan.PictureBits() * 60 / 8;
        const auto file = [&](double bits) { return qint64(other + overshoot * bits * 60 / 8); };
        int tries = 0;
        for (double bits = plan.PictureBits(); file(bits) > limit && tries < 3;)
            bits = plan.CorrectedPictureBits(file(bits), ++tries);
        const double change = plan.PictureBits() - first.PictureBits();
        QTEST(QStringLiteral("%1, %2 tries")
                  .arg(change > 1    ? "up"
                       : change < -1 ? "down"
                                     : "same")
                  .arg(tries),
              "result");
    }

    // A trim cut into parts: together every picture of the one piece, each part at most the
    // longest, cut on the output's clock a whole number of milliseconds after the begin (so
    // that the tools read the cut exactly), each after the first with a lead-in before it.
    void parts_data()
    {
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("maxFrames");
        QTest::addColumn<bool>("even");
        QTest::addColumn<QString>("parts"); // frames of each, then the cuts
        const auto row = [](const char *name, double begin, double end, const char *rate,
                            int maxFrames, bool even, const char *parts) {
            QTest::newRow(name) << begin << end << QString(rate) << maxFrames << even
                                << QString(parts);
        };
        row("even in whole milliseconds, the last shorter", 0, 10, "15", 40, true,
            "39 39 39 33 | 0.000000 2.600000 5.200000 7.800000 10.000000");
        row("fixed lengths, the rest in the last", 0, 10, "15", 60, false,
            "60 60 30 | 0.000000 4.000000 8.000000 10.000000");
        row("a trim that fits is one part", 2, 7, "15", 100, true, "75 | 2.000000 7.000000");
        row("cuts counted from the begin as the tools read it", 1.0006, 7, "25", 50, true,
            "50 50 50 | 1.000600 3.000600 5.000600 7.000000");
        row("29.97 fps: cuts after whole 30 frames", 0, 20, "30000/1001", 200, true,
            "150 150 150 150 | 0.000000 5.005000 10.010000 15.015000 20.000000");
        row("a last picture starting just before the end", 0, 4.01, "5", 10, true,
            "7 7 7 | 0.000000 1.400000 2.800000 4.010000");
        row("a rate without whole-millisecond steps", 0, 10, "3628800/502589", 30, true,
            "25 25 23 | 0.000000 3.462501 6.925002 10.000000");
        row("no picture rate: no parts", 0, 10, "", 30, true, " | ");
        row("no frame a part: no parts", 0, 10, "15", 0, true, " | ");
    }
    void parts()
    {
        QFETCH(double, begin);
        QFETCH(double, end);
        QFETCH(int, maxFrames);
        QFETCH(bool, even);
        QFETCH(QString, rate);
        const FrameRate clock = FrameRate::Parse(rate);
        const QList<Part> cut =
            PartPlan::Cut(begin, end, clock, maxFrames,
                          even ? PartPlan::Lengths::Even : PartPlan::Lengths::Fixed);
        QStringList frames, cuts;
        qint64 total = 0;
        for (const Part &part : cut) {
            frames << QString::number(part.frames);
            cuts << CommandTemplate::ExactSeconds(part.beginSeconds);
            QCOMPARE(part.firstFrame, total);
            QVERIFY(part.frames >= 1 && part.frames <= maxFrames);
            QCOMPARE(part.endSeconds,
                     part.number < cut.size() ? cut.at(part.number).beginSeconds : end);
            // The lead-in: two seconds of whole pictures or more, none before the task's begin.
            const double before = part.number == 1 ? 0.0 : part.beginSeconds - cut[0].beginSeconds;
            QVERIFY(part.leadSeconds <= before + 1e-6);
            QVERIFY(part.leadSeconds >= qMin(PartPlan::leadSeconds, before) - 1e-6);
            total += part.frames;
        }
        if (!cut.isEmpty())
            cuts << CommandTemplate::ExactSeconds(cut.last().endSeconds);
        QCOMPARE(total, cut.isEmpty() ? 0 : PartPlan::FrameCount(end - begin, clock));
        QTEST(frames.join(u' ') + " | " + cuts.join(u' '), "parts");
        // One part keeps the task's name (parts of more: tst_fitruns's batches).
        QCOMPARE(PartPlan::Name("Clip", 1, 1), QString("Clip"));
    }

    // The shipped passes changed for a plan: the picture's rate (with its one-pass tolerance
    // alike), the sound's, and the encoding run of a two-pass picture reading the statistics.
    // A pass without the option stays as it was. The statistics run and a part's lead-in are
    // proven by tst_fitruns, whose real tools must leave the right files and pictures.
    void arguments_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("pass");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("arguments"); // where they changed, or "unchanged"
        const auto row = [](const char *name, int type, int row, int pass, const char *change,
                            const char *arguments) {
            QTest::newRow(name) << type << row << pass << QString(change) << QString(arguments);
        };
        row("H.263's rate and its tolerance", 0, 2, 1, "picture 56000",
            "-b:v 56000 -bt 28000 -maxrate 128k");
        row("H.264 has no tolerance", 1, 1, 1, "picture 64000", "-b:v 64000 -maxrate 192k");
        row("AMR's band mode", 0, 2, 2, "sound MR475", "--mode MR475 --h263-level 45");
        row("AAC's rate", 2, 1, 2, "sound 24k", "-b:a 24k -f 3g2");
        row("the title pass has no rate", 0, 2, 3, "sound MR475", "unchanged");
        row("the encoding run reads them", 0, 0, 1, "encoding",
            "-t 4.000000 -pass 2 -passlogfile /o/clip_fit -f mov file:/o/clip_temp.3gp");
    }
    void arguments()
    {
        QFETCH(int, type);
        QFETCH(int, row);
        QFETCH(int, pass);
        QFETCH(QString, change);
        const QStringList before =
            PassArguments(paths, type, row, pass, "/v/clip.avi", 10, 4, "/o");
        const QStringList how = change.split(u' ');
        QStringList after = before;
        bool changed = true;
        if (how[0] == "picture")
            changed = FitArguments::SetPictureRate(after, how[1].toDouble());
        else if (how[0] == "sound")
            changed = FitArguments::SetSoundRate(after, {how[1], 0, 0});
        else
            after = FitArguments::EncodingRun(before, "/o/clip_fit");
        QCOMPARE(changed, after != before);
        QFETCH(QString, arguments);
        if (arguments == "unchanged") {
            QCOMPARE(after, before);
            return;
        }
        QVERIFY2(after.join(u' ').contains(arguments), qPrintable(after.join(u' ')));
        QVERIFY(!before.join(u' ').contains(arguments));
    }
};

QTEST_GUILESS_MAIN(TestFit)
#include "tst_fit.moc"
