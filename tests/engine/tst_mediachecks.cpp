// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandtemplate.h"
#include "mediacheck.h"
#include "outputcheck.h"
#include "sourceprobe.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList testPattern{"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15"};
const QStringList tone{"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=2"};
const QStringList shortTone{"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=1"};

QString Media(const char *name)
{
    return QStringLiteral(KESTRANI_MEDIA_DIR "/") + QLatin1String(name);
}

// A transport stream with a picture and one audio PID per entry; false entries list the PID in
// the program table but carry no packet on it, as broadcast recordings do.
bool MakeTransportStream(const QString &path, const QList<bool> &soundPerPid)
{
    QStringList extra{"-t", "2", "-map", "0:v", "-c:v", "mpeg2video", "-c:a", "mp2"};
    for (qsizetype i = 0; i < soundPerPid.size(); ++i) {
        extra << "-map"
              << "1:a";
        if (!soundPerPid[i])
            extra << QStringLiteral("-bsf:a:%1").arg(i) << "noise=drop=1";
    }
    return mediacheck::MakeClip(path, testPattern + tone, extra + QStringList{"-f", "mpegts"});
}

} // namespace

// The look at a source before conversion, and the look at a result after it, on real files.
class TestMediaChecks : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString File(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(MakeToneClip(File("clip.mp4"), 2, "320x240"));
        QVERIFY(mediacheck::MakeClip(File("sound.m4a"), tone, {"-c:a", "aac"}));
        QVERIFY(mediacheck::MakeClip(
            File("cover.m4a"), tone + QStringList{"-f", "lavfi", "-i", "color=size=64x64:d=0.04"},
            {"-map", "0:a", "-map", "1:v", "-c:a", "aac", "-c:v", "png", "-disposition:v:0",
             "attached_pic"}));
        QVERIFY(MakeTransportStream(File("empty-pid.ts"), {false}));
        QVERIFY(MakeTransportStream(File("second-pid.ts"), {false, true}));
        const QStringList h263{"-t", "2", "-c:v", "h263", "-c:a", "aac", "-f", "3gp"};
        QVERIFY(mediacheck::MakeClip(File("good.3gp"), testPattern + tone, h263));
        QVERIFY(mediacheck::MakeClip(File("short-sound.3gp"), testPattern + shortTone, h263));
        QVERIFY(mediacheck::MakeClip(File("silent.3gp"), testPattern,
                                     {"-t", "2", "-c:v", "h263", "-f", "3gp"}));
        QFile text(File("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Shopping list: milk, bread, batteries for the phone.\n");
    }

    void probe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hasVideo");
        QTest::addColumn<int>("audioIndex");
        QTest::addColumn<bool>("hasAudioStreams");
        QTest::addColumn<bool>("multiFrameAmr");
        QTest::addColumn<QString>("problem");
        QTest::newRow("normal clip") << "clip.mp4" << true << 0 << true << false << "";
        QTest::newRow("clip without sound")
            << Media("testvideo-169.avi") << true << -1 << false << false << "";
        QTest::newRow("sound only")
            << "sound.m4a" << false << 0 << true << false << "has no video stream";
        QTest::newRow("cover art is no picture")
            << "cover.m4a" << false << 0 << true << false << "has no video stream";
        QTest::newRow("text file")
            << "notes.txt" << false << -1 << false << false << "cannot be read as a video";
        QTest::newRow("missing file")
            << "gone.mp4" << false << -1 << false << false << "does not exist";
        QTest::newRow("transport stream with an empty audio PID")
            << "empty-pid.ts" << true << -1 << true << false << "";
        QTest::newRow("empty audio PID passed over for the next one")
            << "second-pid.ts" << true << 1 << true << false << "";
        QTest::newRow("AMR with several frames per packet")
            << Media("filetype_fixture2.3gp") << true << 0 << true << true << "";
        QTest::newRow("AMR with one frame per packet")
            << Media("filetype_fixture.3gp") << true << 0 << true << false << "";
    }
    void probe()
    {
        QFETCH(QString, path);
        const SourceInfo info = SourceProbe::Probe(path.startsWith('/') ? path : File(path));
        QFETCH(QString, problem);
        QCOMPARE(info.readable, !problem.startsWith("cannot") && !problem.startsWith("does"));
        QTEST(info.hasVideo, "hasVideo");
        QTEST(info.audioIndex, "audioIndex");
        QTEST(info.hasAudioStreams, "hasAudioStreams");
        QTEST(info.multiFrameAmr, "multiFrameAmr");
        QCOMPARE(info.problem, problem);
        QCOMPARE(info.durationSeconds > 0, info.readable);
    }

    // The map the probe chooses lets ffmpeg convert sources whose first audio stream it
    // cannot set up; "0:a:0?" stops on them.
    void audioMapConverts_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("audioMap");
        QTest::addColumn<bool>("sound");
        QTest::newRow("normal clip keeps its sound") << "clip.mp4"
                                                     << "0:a:0?" << true;
        QTest::newRow("empty audio PID left out") << "empty-pid.ts"
                                                  << "-0:a" << false;
        QTest::newRow("empty audio PID passed over") << "second-pid.ts"
                                                     << "0:a:1?" << true;
    }
    void audioMapConverts()
    {
        QFETCH(QString, source);
        QFETCH(bool, sound);
        const SourceInfo info = SourceProbe::Probe(File(source));
        CommandTemplate::Values values;
        values.inputFile = File(source);
        values.outputFile = File(source + ".3gp");
        values.TakeSource(info);
        QTEST(values.audioMap, "audioMap");
        const QStringList command = CommandTemplate::ExpandArguments(
            "ffmpeg -v error -nostdin -y -i \"file:$INPUT_FILE\" -map 0:v:0 -map $AUDIO_MAP "
            "-vf fps=15 -c:v h263 -s 176x144 -c:a aac -t 1 -f 3gp \"file:$OUTPUT_FILE\"",
            values);
        int code = -1;
        mediacheck::Run(command.first(), command.mid(1), &code);
        QCOMPARE(code, 0);
        OutputExpectation expected{{"3gp4"}, {"h263"}, 176, 144, 15, 1.0, sound};
        QCOMPARE(OutputCheck::Verify(values.outputFile, expected), QString());
        QCOMPARE(mediacheck::StreamCount(mediacheck::Probe(values.outputFile), "audio"),
                 sound ? 1 : 0);
    }

    void verify_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("brands");
        QTest::addColumn<QString>("size");
        QTest::addColumn<double>("maxRate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("fault"); // part of the answer; empty for a good file
        const QStringList gp{"3gp4", "3gp5", "3gp6"};
        QTest::newRow("good 3gp") << "good.3gp" << gp << "176x144" << 15.0 << 2.0 << true << "";
        QTest::newRow("rate cap a little below the rate")
            << "good.3gp" << gp << "176x144" << 15000.0 / 1001 << 2.0 << true << "";
        QTest::newRow("length within one frame")
            << "good.3gp" << gp << "176x144" << 15.0 << 2.05 << true << "";
        QTest::newRow("length unknown")
            << "good.3gp" << gp << "176x144" << 15.0 << 0.0 << true << "";
        QTest::newRow("wrong brand")
            << "good.3gp" << QStringList{"3g2a", "3g2b"} << "176x144" << 15.0 << 2.0 << true
            << "file type is 3gp4/isom/iso2 instead of 3g2a or 3g2b";
        QTest::newRow("wrong brand of an mp4")
            << "clip.mp4" << gp << "" << 0.0 << 0.0 << false << "file type is isom";
        QTest::newRow("wrong size") << "good.3gp" << gp << "320x240" << 15.0 << 2.0 << true
                                    << "picture is 176x144 instead of 320x240";
        QTest::newRow("rate above the cap") << "good.3gp" << gp << "176x144" << 10.0 << 2.0 << true
                                            << "picture runs at 15 frames per second";
        QTest::newRow("too short") << "good.3gp" << gp << "176x144" << 15.0 << 3.0 << true
                                   << "picture lasts 2.00 s instead of 3.00 s";
        QTest::newRow("sound too short") << "short-sound.3gp" << gp << "176x144" << 15.0 << 2.0
                                         << true << "sound lasts 1.00 s of 2.00 s of picture";
        QTest::newRow("short sound is fine for a silent source")
            << "short-sound.3gp" << gp << "176x144" << 15.0 << 2.0 << false << "";
        QTest::newRow("sound missing")
            << "silent.3gp" << gp << "176x144" << 15.0 << 2.0 << true << "has no sound";
        QTest::newRow("no video") << "sound.m4a" << QStringList() << "" << 0.0 << 0.0 << true
                                  << "has no picture";
        QTest::newRow("not a video")
            << "notes.txt" << gp << "176x144" << 15.0 << 2.0 << true << "cannot be read back";
    }
    void verify()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, brands);
        QFETCH(QString, size);
        QFETCH(double, maxRate);
        QFETCH(double, seconds);
        QFETCH(bool, sound);
        QFETCH(QString, fault);
        const QStringList wh = size.split('x');
        const OutputExpectation expected{
            brands, {"h263"}, wh.value(0).toInt(), wh.value(1).toInt(), maxRate, seconds, sound};
        const QString answer = OutputCheck::Verify(File(file), expected);
        if (fault.isEmpty())
            QCOMPARE(answer, QString());
        else
            QVERIFY2(answer.contains(fault), qPrintable(answer));
    }

    void checkEntry_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("malformed");
        QTest::addColumn<QStringList>("codecs");
        QTest::addColumn<QString>("size");
        QTest::addColumn<double>("rate");
        const QStringList noCodecs;
        QTest::newRow("codec, size and rate as a fraction")
            << QStringList{"Title", "Check"} << QStringList{"x", "h263 176x144 15000/1001"} << true
            << false << QStringList{"h263"} << "176x144" << 15000.0 / 1001;
        QTest::newRow("several codecs and a whole rate")
            << QStringList{"check"} << QStringList{"mpeg4,h264  320x240 25"} << true << false
            << QStringList{"mpeg4", "h264"} << "320x240" << 25.0;
        QTest::newRow("no entry leaves everything open")
            << QStringList{"Pass1"} << QStringList{"ffmpeg"} << false << false << noCodecs << "0x0"
            << 0.0;
        QTest::newRow("size without an x") << QStringList{"Check"} << QStringList{"h263 176 15"}
                                           << false << true << noCodecs << "0x0" << 0.0;
        QTest::newRow("rate missing") << QStringList{"Check"} << QStringList{"h263 176x144"}
                                      << false << true << noCodecs << "0x0" << 0.0;
        QTest::newRow("zero rate") << QStringList{"Check"} << QStringList{"h263 176x144 15/0"}
                                   << false << true << noCodecs << "0x0" << 0.0;
    }
    void checkEntry()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        QFETCH(bool, malformed);
        OutputExpectation e;
        QString error;
        QTEST(e.ReadCheckEntry(keys, values, &error), "read");
        QCOMPARE(!error.isEmpty(), malformed);
        QTEST(e.codecs, "codecs");
        QTEST(QStringLiteral("%1x%2").arg(e.width).arg(e.height), "size");
        QTEST(e.maxFrameRate, "rate");
    }
};

QTEST_GUILESS_MAIN(TestMediaChecks)
#include "tst_mediachecks.moc"
