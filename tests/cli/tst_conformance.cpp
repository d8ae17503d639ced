// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped profile, run by kestrani-cli as users run it, gives a file a phone takes: the
// brand of its type, the codecs, picture size and rate its title promises, a stream that keeps
// to the level it declares, sound, and exactly the part of the source that -b and -e ask for.
// And the AMR step's tool, on what the first pass of the AMR profiles writes.
#include "engine.h"
#include "levelcheck.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace support;

namespace {

const QString amrEncoder = QStringLiteral(KESTRANI_PROGRAM_DIR "/app/kestrani-amrenc");
constexpr double begin = 0.2;

Clip Shaped(const char *size, const char *rate, const char *sar)
{
    Clip clip;
    clip.size = size, clip.rate = rate, clip.sar = sar, clip.seconds = 2.0;
    return clip;
}

double Rate(const QJsonValue &value) // "15000/1001"
{
    const QStringList parts = value.toString().split(u'/');
    return parts.value(1).toDouble() > 0 ? parts[0].toDouble() / parts[1].toDouble() : 0;
}

} // namespace

class TestConformance : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QStringList sources; // 4:3, 16:9, 2:1 pixels, a phone's own 3GP
    const QList<double> sourceRates{25, 30000.0 / 1001, 25, 10};
    struct Run {
        int type, profile, source;
        QString title, folder;
        double end;
        std::unique_ptr<QProcess> process;
    };
    std::vector<Run> runs; // every profile, all started at once

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        sources = QStringList{SharedClip(Shaped("320x240", "25", "1"), "four-three.mp4"),
                              SharedClip(Shaped("384x216", "30000/1001", "1"), "wide.mp4"),
                              SharedClip(Shaped("240x180", "25", "2"), "wide-pixels.mp4"),
                              MediaFile("filetype_fixture2.3gp")};
        QVERIFY(!sources.contains(QString()));
        const ToolResult listed = RunCli({"--list-profiles"});
        int type = -1;
        for (const QString &line : QString::fromUtf8(listed.out).split(u'\n')) {
            const QRegularExpressionMatch title =
                QRegularExpression("^   [ *] +(\\d+)  (.+)$").match(line);
            type += line.startsWith(QString::number(type + 1) + "  ");
            if (!title.hasMatch())
                continue;
            // A level shows in its stream only after a while: an H.264 level's buffer is long.
            const double end = title.captured(2).contains("H.264") ? 1.2 : 1.8;
            Run &run = runs.emplace_back(Run{type, title.captured(1).toInt(), int(runs.size() % 4),
                                             title.captured(2), NewFolder(dir, folders), end,
                                             std::make_unique<QProcess>()});
            run.process->start(cliProgram,
                               {"-t", QString::number(type), "-p", QString::number(run.profile),
                                "-b", QString::number(begin), "-e", QString::number(end), "-o",
                                run.folder, sources[run.source]});
        }
        QCOMPARE(runs.size(), size_t(14));
    }

    void profiles_data()
    {
        QTest::addColumn<int>("index");
        for (size_t i = 0; i < runs.size(); ++i)
            QTest::addRow("type %d, %s, from %s", runs[i].type, qPrintable(runs[i].title),
                          qPrintable(QFileInfo(sources[runs[i].source]).fileName()))
                << int(i);
    }

    void profiles()
    {
        QFETCH(int, index);
        const Run &run = runs[index];
        QVERIFY(run.process->waitForFinished(120000));
        QCOMPARE(run.process->exitCode(), 0);
        const QStringList files = FilesIn(run.folder);
        QCOMPARE(files.size(), 1);
        const QString output = run.folder + u'/' + files[0];
        QVERIFY(output.endsWith(run.type == 2 ? ".3g2" : ".3gp"));

        // What the title promises: "Standard - 176x144, 15 fps (H.263, AMR 12.2 kbit/s)".
        const QRegularExpressionMatch promise =
            QRegularExpression("(\\d+)x(\\d+), (\\d+) fps \\((H\\.263|MPEG-4|H\\.264), (AMR|AAC)")
                .match(run.title);
        QVERIFY(promise.hasMatch());
        const QString video = QString(promise.captured(4)).remove(u'.').remove(u'-').toLower();
        const QJsonObject probe = Probe(output);
        const QJsonObject picture = StreamOf(probe, "video"), sound = StreamOf(probe, "audio");
        const bool avc = video == "h264";
        QCOMPARE(Brand(probe), run.type == 2 ? (avc ? "3g2b" : "3g2a") : (avc ? "3gp6" : "3gp4"));
        QCOMPARE(picture["codec_name"].toString(), video);
        QCOMPARE(sound["codec_name"].toString(), promise.captured(5) == "AMR" ? "amr_nb" : "aac");
        QCOMPARE(picture["width"].toInt(), promise.captured(1).toInt());
        QCOMPARE(picture["height"].toInt(), promise.captured(2).toInt());
        // H.263 at these sizes has 12:11 pixels; the others have square ones.
        QCOMPARE(picture["sample_aspect_ratio"].toString(), video == "h263" ? "12:11" : "1:1");
        // The title's rate, or the source's when lower; H.263 in steps of its 30000/1001 clock.
        const double fps = Rate(picture["avg_frame_rate"]);
        const double want = qMin(promise.captured(3).toDouble(), sourceRates[run.source]);
        QVERIFY2(qAbs(fps / want - 1) < 0.005, qPrintable(QString::number(fps)));

        const levelcheck::Result level = levelcheck::Check(output);
        QVERIFY2(level.Fits(), qPrintable(level.Text()));

        // The trim, to within half a picture and a sound frame.
        const double length = run.end - begin;
        const double pictures = picture["duration"].toString().toDouble();
        const double seconds = sound["duration"].toString().toDouble();
        QVERIFY2(qAbs(pictures - length) < 0.5 / fps, qPrintable(QString::number(pictures)));
        QVERIFY2(qAbs(seconds - length) < 0.015, qPrintable(QString::number(seconds)));
    }

    // kestrani-amrenc on what the first pass writes (H.263 and 8 kHz PCM in a mov named .3gp):
    // the level byte it is told, AMR sound, the picture copied; a failure leaves an older file
    // of the output's name as it was.
    void amrTool_data()
    {
        QTest::addColumn<QString>("arguments"); // @IN, @OUT, @AVC in place
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("level"); // the d263 box's
        QTest::addColumn<QString>("said");
        QTest::newRow("level 45 declared") << "--h263-level 45 -- @IN @OUT" << 0 << 45 << "";
        QTest::newRow("level joined by =, in place") << "--h263-level=20 @IN @IN" << 0 << 20 << "";
        QTest::newRow("no level: the muxer's kept") << "-m MR475 @IN @OUT" << 0 << 10 << "";
        QTest::newRow("a level for H.264") << "--h263-level 45 @AVC @OUT" << 1 << -1 << "not H.263";
        QTest::newRow("unknown level") << "--h263-level 46 @IN @OUT" << 2 << -1 << "unknown H.263";
        QTest::newRow("no input") << "@OUT.missing @OUT" << 1 << -1 << "cannot open";
    }

    void amrTool()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(int, level);
        QFETCH(QString, said);
        Clip first;
        first.rate = "15", first.seconds = 1.0, first.video = "h263", first.audio = "pcm_s16le";
        first.sampleRate = 8000, first.extra = QStringList{"-ac", "1", "-f", "mov"};
        Clip avc;
        avc.seconds = 1.0, avc.video = "libx264";
        const QString folder = NewFolder(dir, folders), in = folder + "/in.3gp";
        const QString out = folder + "/out.3gp";
        QVERIFY(QFile::copy(SharedClip(first, "pass1.3gp"), in) && WriteFile(out, "older"));
        const QStringList before = FilesIn(folder);
        const ToolResult run = RunTool(amrEncoder, arguments.replace("@IN", in)
                                                       .replace("@OUT", out)
                                                       .replace("@AVC", SharedClip(avc))
                                                       .split(u' '));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QCOMPARE(FilesIn(folder), before);
        if (exitCode != 0) {
            QCOMPARE(Contents(out), QByteArray("older"));
            return;
        }
        const QString written = arguments.endsWith(in) ? in : out;
        QCOMPARE(levelcheck::D263Level(written), level);
        const QJsonObject probe = Probe(written), source = Probe(SharedClip(first, "pass1.3gp"));
        QCOMPARE(StreamOf(probe, "audio")["codec_name"].toString(), "amr_nb");
        QCOMPARE(StreamOf(probe, "audio")["sample_rate"].toString(), "8000");
        QCOMPARE(StreamOf(probe, "video")["nb_frames"], StreamOf(source, "video")["nb_frames"]);
        QCOMPARE(StreamOf(probe, "video")["bit_rate"], StreamOf(source, "video")["bit_rate"]);
    }
};

QTEST_GUILESS_MAIN(TestConformance)
#include "tst_conformance.moc"
