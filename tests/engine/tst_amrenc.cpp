// SPDX-License-Identifier: GPL-3.0-or-later
// The AMR step's tool, run as the profiles run it, on clips made with ffmpeg.
#include "mediacheck.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace mediacheck;

namespace {

const QString tool = QStringLiteral(KESTRANI_PROGRAM_DIR "/app/kestrani-amrenc");

struct ToolRun {
    int exitCode = -1;
    QString error;
};

ToolRun RunTool(const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestAmrEnc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void converts_data();
    void converts();
    void bandModeSetsTheRate_data();
    void bandModeSetsTheRate();
    void h263LevelIsDeclared_data();
    void h263LevelIsDeclared();
    void awkwardNames_data();
    void awkwardNames();
    void failuresLeaveNoOutput_data();
    void failuresLeaveNoOutput();

private:
    QString Clip(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestAmrEnc::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFile::exists(tool), "build kestrani-amrenc first");
    const QStringList video = {"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15"};
    const QStringList tone = {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100"};
    const QStringList h263 = {"-t", "2", "-c:v", "h263", "-b:v", "96k"};
    // What pass 1 writes: H.263 with 8 kHz mono PCM in a mov, under a .3gp name.
    QVERIFY(
        MakeClip(Clip("pass1.3gp"), video + tone,
                 h263 + QStringList{"-c:a", "pcm_s16le", "-ar", "8000", "-ac", "1", "-f", "mov"}));
    QVERIFY(MakeClip(
        Clip("stereo.mp4"), video + tone,
        {"-t", "2", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-ac", "2"}));
    QVERIFY(MakeClip(Clip("silent.mov"), video, h263));
    QVERIFY(MakeClip(Clip("sound.m4a"), tone, {"-t", "2", "-c:a", "aac"}));
    QFile text(Clip("notes.mov"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a video\n");
}

void TestAmrEnc::converts_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<bool>("hasAudio");
    QTest::newRow("first pass's intermediate") << "pass1.3gp"
                                               << "h263" << true;
    QTest::newRow("AAC stereo 44.1 kHz resampled") << "stereo.mp4"
                                                   << "h264" << true;
    QTest::newRow("no sound gives a video-only file") << "silent.mov"
                                                      << "h263" << false;
    QTest::newRow("sound only") << "sound.m4a"
                                << "" << true;
}

void TestAmrEnc::converts()
{
    QFETCH(QString, input);
    QFETCH(QString, videoCodec);
    QFETCH(bool, hasAudio);
    const QString output = Clip("out.3gp");
    QFile::remove(output);
    const ToolRun run = RunTool({Clip(input), output});
    QVERIFY2(run.exitCode == 0, qPrintable(run.error));

    const QJsonObject source = Probe(Clip(input));
    const QJsonObject probe = Probe(output);
    QVERIFY2(QStringList({"3gp4", "3gp5", "3gp6"}).contains(Brand(probe)),
             qPrintable(Brand(probe)));
    QCOMPARE(MediaInfoGeneral(output, "Format_Profile").left(4), QStringLiteral("3GPP"));
    const QJsonObject video = StreamOf(probe, "video");
    QCOMPARE(video["codec_name"].toString(), videoCodec);
    if (!videoCodec.isEmpty()) {
        // Copied, not encoded again: the same frames in the same number of bytes.
        const QJsonObject sourceVideo = StreamOf(source, "video");
        QCOMPARE(video["nb_frames"], sourceVideo["nb_frames"]);
        QCOMPARE(video["bit_rate"], sourceVideo["bit_rate"]);
    }
    QCOMPARE(StreamCount(probe, "audio"), hasAudio ? 1 : 0);
    if (hasAudio) {
        const QJsonObject audio = StreamOf(probe, "audio");
        QCOMPARE(audio["codec_name"].toString(), QStringLiteral("amr_nb"));
        QCOMPARE(audio["sample_rate"].toString(), QStringLiteral("8000"));
        QCOMPARE(audio["channels"].toInt(), 1);
    }
    // The last AMR frame is padded to 20 ms; AAC input adds up to one 1024-sample frame.
    QVERIFY2(qAbs(Duration(probe) - Duration(source)) <= 0.045,
             qPrintable(QString::number(Duration(probe))));
    QCOMPARE(QDir(dir.path()).entryList({".*out*"}, QDir::Files | QDir::Hidden), {});
}

void TestAmrEnc::bandModeSetsTheRate_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("frameBytes"); // per 20 ms, table-of-contents byte included
    QTest::newRow("default is 12.2 kbit/s") << "" << 32;
    QTest::newRow("MR475 by name") << "MR475" << 13;
    QTest::newRow("7.4 kbit/s by rate in kbit/s") << "7.4k" << 20;
    QTest::newRow("10.2 kbit/s by rate in bit/s") << "10200" << 27;
    QTest::newRow("lower case name") << "mr59" << 16;
}

void TestAmrEnc::bandModeSetsTheRate()
{
    QFETCH(QString, mode);
    QFETCH(int, frameBytes);
    const QString output = Clip("mode.3gp");
    QStringList arguments = {Clip("sound.m4a"), output};
    if (!mode.isEmpty())
        arguments = QStringList{"-m", mode} + arguments;
    const ToolRun run = RunTool(arguments);
    QVERIFY2(run.exitCode == 0, qPrintable(run.error));
    const QJsonObject audio = StreamOf(Probe(output), "audio");
    QCOMPARE(audio["bit_rate"].toString().toInt(), frameBytes * 8 * 50);
}

void TestAmrEnc::h263LevelIsDeclared_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("level");
    QTest::newRow("as the muxer wrote it") << QStringList{} << 10;
    QTest::newRow("level 45 for QCIF at 128 kbit/s") << QStringList{"--h263-level", "45"} << 45;
    QTest::newRow("joined with =, written in place") << QStringList{"--h263-level=20"} << 20;
}

// The level byte of the 'd263' box: vendor (4 bytes) and decoder version (1) come first.
void TestAmrEnc::h263LevelIsDeclared()
{
    QFETCH(QStringList, options);
    QFETCH(int, level);
    const QString output = Clip("level.3gp");
    QFile::remove(output);
    QVERIFY(QFile::copy(Clip("pass1.3gp"), output));
    const ToolRun run = RunTool(options + QStringList{"--", output, output});
    QVERIFY2(run.exitCode == 0, qPrintable(run.error));
    const QByteArray bytes = Contents(output);
    const qsizetype box = bytes.indexOf("d263");
    QVERIFY(box > 0);
    QCOMPARE(int(quint8(bytes.at(box + 4 + 5))), level);
    QCOMPARE(StreamOf(Probe(output), "video")["codec_name"].toString(), QStringLiteral("h263"));
}

void TestAmrEnc::awkwardNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blanks and quotes") << "a b 'c' \"d\".3gp";
    QTest::newRow("dollar, bang, backslash") << "$HOME !x \\y.3gp";
    QTest::newRow("leading dash") << "-o.3gp";
    QTest::newRow("non-ASCII") << "vidéo ünï 日本.3gp";
}

// Names come as plain arguments: any name the file system allows works, in and out.
void TestAmrEnc::awkwardNames()
{
    QFETCH(QString, name);
    const QString input = Clip("in " + name);
    QFile::remove(input);
    QVERIFY(QFile::copy(Clip("pass1.3gp"), input));
    const ToolRun run = RunTool({"--", input, Clip(name)});
    QVERIFY2(run.exitCode == 0, qPrintable(run.error));
    QCOMPARE(StreamOf(Probe(Clip(name)), "audio")["codec_name"].toString(), "amr_nb");
    // Written in place too: the input is replaced only by the finished file.
    const ToolRun inPlace = RunTool({"--", input, input});
    QVERIFY2(inPlace.exitCode == 0, qPrintable(inPlace.error));
    QCOMPARE(StreamOf(Probe(input), "audio")["codec_name"].toString(), "amr_nb");
}

void TestAmrEnc::failuresLeaveNoOutput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString out = QStringLiteral("OUT");
    QTest::newRow("missing input") << QStringList{"missing.mov", out} << 1 << "cannot open";
    QTest::newRow("input is not media") << QStringList{"notes.mov", out} << 1 << "notes.mov";
    QTest::newRow("output folder missing")
        << QStringList{"pass1.3gp", "no/such/folder/x.3gp"} << 1 << "cannot write in";
    QTest::newRow("output is a folder") << QStringList{"pass1.3gp", "."} << 1 << "folder";
    QTest::newRow("unknown band mode")
        << QStringList{"-m", "MR999", "pass1.3gp", out} << 2 << "unknown band mode";
    QTest::newRow("H.263 level for H.264 video")
        << QStringList{"--h263-level", "45", "stereo.mp4", out} << 1 << "not H.263";
    QTest::newRow("unknown H.263 level")
        << QStringList{"--h263-level", "46", "pass1.3gp", out} << 2 << "unknown H.263 level";
    QTest::newRow("one file only") << QStringList{"pass1.3gp"} << 2 << "INPUT and one OUTPUT";
    QTest::newRow("unknown option") << QStringList{"-x", "pass1.3gp", out} << 2 << "unknown option";
}

// A failure says why on standard error, and the folder holds what it held before: an older
// output of the same name keeps its bytes, and no partial file is left.
void TestAmrEnc::failuresLeaveNoOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFile old(Clip("OUT"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the user's own file");
    old.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(tool, arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QCOMPARE(Contents(Clip("OUT")), QByteArray("the user's own file"));
}

QTEST_GUILESS_MAIN(TestAmrEnc)
#include "tst_amrenc.moc"
