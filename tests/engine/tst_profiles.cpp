// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped profiles, run pass by pass the way the batch runs them, on generated clips and
// on the sample media; their outputs are read back by ffprobe and mediainfo.
#include "mediacheck.h"
#include "profilerunner.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace mediacheck;

namespace {

const QString appFolder = QStringLiteral(KESTRANI_PROGRAM_DIR "/app");
const QString mediaFolder = QStringLiteral(KESTRANI_MEDIA_DIR "/");

struct Expected {
    int width = 0, height = 0, fps = 0;
};

// The picture size and frame rate a profile promises in its title, "176x144, 15 fps".
Expected FromTitle(const QString &title)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("(\\d+)x(\\d+), (\\d+) fps")).match(title);
    return {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
}

QString PassText(const QList<ProfileRunner::Pass> &passes)
{
    QString text;
    for (const ProfileRunner::Pass &p : passes)
        text += p.arguments.join(u' ') + QStringLiteral("\n -> %1\n").arg(p.exitCode) +
                QString::fromUtf8(p.output.right(600)) + u'\n';
    return text;
}

} // namespace

class TestProfiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void everyProfileConverts_data();
    void everyProfileConverts();
    void awkwardNamesConvert_data();
    void awkwardNamesConvert();
    void sampleMediaConverts_data();
    void sampleMediaConverts();
    void pictureKeepsItsShape_data();
    void pictureKeepsItsShape();
    void corruptSourceFails();

private:
    QList<ProfileRunner::Pass> Convert(int type, int row, ConversionTask &task);
    void CheckOutput(int type, int row, const ConversionTask &task, bool expectAudio);

    QTemporaryDir dir;
    QString outputDir;
    QString clip; // 16:9, stereo sound
};

void TestProfiles::initTestCase()
{
    QVERIFY(dir.isValid());
    outputDir = dir.path() + u'/';
    clip = dir.filePath(QStringLiteral("clip.mp4"));
    QVERIFY(MakeClip(clip,
                     {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25", "-f", "lavfi", "-i",
                      "sine=frequency=330:sample_rate=44100", "-t", "3"},
                     {"-ac", "2", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}));
    for (int type = 0; type < 3; ++type)
        QVERIFY2(QFile::exists(appFolder + u'/' + OutputType::Find(type)->ProfileFile()),
                 "build the kestrani_profiles target first");
}

QList<ProfileRunner::Pass> TestProfiles::Convert(int type, int row, ConversionTask &task)
{
    return ProfileRunner(appFolder, type).Run(row, task, outputDir);
}

void TestProfiles::layout_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("3GP with AMR") << 0;
    QTest::newRow("3GP with AAC") << 1;
    QTest::newRow("3G2 with AAC") << 2;
}

// What the engine relies on when it reads a profile file by position.
void TestProfiles::layout()
{
    QFETCH(int, type);
    const ProfileRunner profiles(appFolder, type);
    QVERIFY(profiles.Readable());
    QVERIFY(!profiles.Description().isEmpty());
    QVERIFY(profiles.ProfileCount() >= 4 && profiles.ProfileCount() <= 6);
    QVERIFY(profiles.DefaultProfile() > 1 && profiles.DefaultProfile() < profiles.ProfileCount());
    for (int row = 0; row < profiles.ProfileCount(); ++row) {
        const QStringList passes = profiles.Templates(row);
        QVERIFY(!profiles.Title(row).isEmpty());
        QCOMPARE(passes.size(), profiles.PassCount());
        // Passes are read by position: their names must say so, and nothing after them
        // may look like one.
        const QStringList keys = profiles.Load(row)->keys;
        for (int i = 1; i < keys.size(); ++i)
            QCOMPARE(keys[i].startsWith("Pass"), i <= profiles.PassCount());
        for (int pass = 1; pass <= profiles.PassCount(); ++pass)
            QCOMPARE(keys.value(pass), QStringLiteral("Pass%1").arg(pass));
        const QStringList first = QProcess::splitCommand(passes[0]);
        QCOMPARE(first.value(0), QStringLiteral("ffmpeg"));
        QVERIFY2(!first.contains("-nostdin"), "the first pass must stop on \"q\"");
        QCOMPARE(first.last(), QStringLiteral("file:$OUTPUT_DIR$OUTPUT_FILE_temp.3gp"));
        for (const QString &later : passes.mid(1)) {
            const QStringList args = QProcess::splitCommand(later);
            if (args.value(0) == QStringLiteral("ffmpeg"))
                QVERIFY2(args.contains("-nostdin"), qPrintable(later));
        }
    }
}

void TestProfiles::everyProfileConverts_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("row");
    for (int type = 0; type < 3; ++type) {
        const ProfileRunner profiles(appFolder, type);
        for (int row = 0; row < profiles.ProfileCount(); ++row)
            QTest::addRow("type %d, %s", type, qPrintable(profiles.Title(row))) << type << row;
    }
}

// Trimmed from 0.6 s to 2.4 s: the output lasts the trim, not whole seconds.
void TestProfiles::everyProfileConverts()
{
    QFETCH(int, type);
    QFETCH(int, row);
    ConversionTask task = ConversionTask::ForSource(clip, 3.0);
    task.outputName = QStringLiteral("every %1 %2").arg(type).arg(row);
    task.beginSeconds = 0.6;
    task.endSeconds = 2.4;
    task.title = QStringLiteral("Title %1/%2").arg(type).arg(row);
    const QList<ProfileRunner::Pass> passes = Convert(type, row, task);
    QCOMPARE(passes.size(), ProfileRunner(appFolder, type).PassCount());
    QVERIFY2(passes.last().exitCode == 0, qPrintable(PassText(passes)));
    CheckOutput(type, row, task, true);
}

void TestProfiles::CheckOutput(int type, int row, const ConversionTask &task, bool expectAudio)
{
    const ProfileRunner profiles(appFolder, type);
    const QString final = ProfileRunner::FinalPath(outputDir, task, profiles.Extension());
    const QJsonObject probe = Probe(final);
    const Expected want = FromTitle(profiles.Title(row));
    const QJsonObject video = StreamOf(probe, "video");
    QCOMPARE(video["width"].toInt(), want.width);
    QCOMPARE(video["height"].toInt(), want.height);
    QVERIFY(QStringList({"h263", "mpeg4", "h264"}).contains(video["codec_name"].toString()));
    QVERIFY2(OutputType::Find(type)->Brands().contains(Brand(probe)), qPrintable(Brand(probe)));
    const QJsonObject audio = StreamOf(probe, "audio");
    QCOMPARE(StreamCount(probe, "audio"), expectAudio ? 1 : 0);
    if (expectAudio) {
        QCOMPARE(audio["codec_name"].toString(), type == 0 ? "amr_nb" : "aac");
        if (type == 0) {
            QCOMPARE(audio["sample_rate"].toString(), QStringLiteral("8000"));
            QCOMPARE(audio["channels"].toInt(), 1);
        } else {
            QCOMPARE(audio["profile"].toString(), QStringLiteral("LC"));
        }
    }
    // One frame of tolerance, plus one 20 ms AMR frame or a 1024-sample AAC frame of sound.
    const double length = task.endSeconds - task.beginSeconds;
    QVERIFY2(qAbs(Duration(probe) - length) <= 1.0 / want.fps + 0.05,
             qPrintable(QString::number(Duration(probe))));
    QCOMPARE(MediaInfoGeneral(final, "Movie"), task.title);
    QVERIFY(!QFile::exists(outputDir + task.outputName + "_temp.3gp"));
    QVERIFY(!QFile::exists(outputDir + task.outputName + "_temp_2.3g2"));
}

void TestProfiles::awkwardNamesConvert_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    const QString all = QStringLiteral("-x a'b \"c\" $OUTPUT_DIR $HOME !d \\e ü");
    for (int type = 0; type < 3; ++type) {
        QTest::addRow("type %d: blanks quotes $ ! backslash non-ASCII leading dash", type)
            << type << all;
        QTest::addRow("type %d: only a dash and a blank", type) << type << QStringLiteral("- ");
    }
}

// Source, output and title all carry the name; the default profile of the type.
void TestProfiles::awkwardNamesConvert()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    const QString source = outputDir + name + QStringLiteral(".mp4");
    QFile::remove(source);
    QVERIFY(QFile::copy(clip, source));
    ConversionTask task = ConversionTask::ForSource(source, 3.0);
    QCOMPARE(task.outputName, name);
    task.outputName += QStringLiteral(" out");
    task.endSeconds = 1.0;
    const int row = ProfileRunner(appFolder, type).DefaultProfile() - 1;
    const QList<ProfileRunner::Pass> passes = Convert(type, row, task);
    QVERIFY2(passes.last().exitCode == 0, qPrintable(PassText(passes)));
    CheckOutput(type, row, task, true);
}

void TestProfiles::sampleMediaConverts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("hasAudio");
    QTest::newRow("no sound track, 5 fps") << "testvideo-169.avi" << 0 << false;
    QTest::newRow("no sound track into AAC") << "sar_2x1.mp4" << 1 << false;
    QTest::newRow("data streams ignored") << "file_with_data_streams.mp4" << 0 << true;
    QTest::newRow("interlaced camcorder clip") << "filetype_fixture-raw.mts" << 2 << true;
    QTest::newRow("variable frame rate, odd large size") << "cursed-vfr.mp4" << 1 << false;
    QTest::newRow("HEVC portrait with data tracks")
        << "vertical_video_from_iphone.mov" << 0 << true;
    QTest::newRow("5.1 sound, rotated") << "rotate-buck-bunny.mp4" << 2 << true;
    QTest::newRow("Motion-JPEG with 8-bit sound") << "filetype_fixture-mjpeg.mov" << 1 << true;
    QTest::newRow("DVD program stream") << "gomediainfo_sample_ac3.vob" << 0 << true;
    QTest::newRow("plain AVI with MP3 sound") << "gomediainfo_sample.avi" << 1 << true;
}

// The whole clip with the default profile; lengths come from ffprobe as the preview measures.
void TestProfiles::sampleMediaConverts()
{
    QFETCH(QString, file);
    QFETCH(int, type);
    QFETCH(bool, hasAudio);
    const QString source = mediaFolder + file;
    const double length = Duration(Probe(source));
    QVERIFY(length > 0);
    ConversionTask task = ConversionTask::ForSource(source, qMin(length, 4.0));
    const int row = ProfileRunner(appFolder, type).DefaultProfile() - 1;
    const QList<ProfileRunner::Pass> passes = Convert(type, row, task);
    QVERIFY2(passes.last().exitCode == 0, qPrintable(PassText(passes)));
    CheckOutput(type, row, task, hasAudio);
}

void TestProfiles::pictureKeepsItsShape_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("pictureWidth");
    QTest::addColumn<int>("pictureHeight");
    // Into H.263's 176x144 of 12:11 pixels: the displayed shape, upright, scaled inside and padded.
    QTest::newRow("16:9 letterboxed") << "clip" << 176 << 108;
    QTest::newRow("turned a quarter: upright, pillarboxed") << "sideways movie.mov" << 100 << 144;
    QTest::newRow("pixels twice as wide: 32:9") << "sar_2x1.mp4" << 176 << 54;
}

void TestProfiles::pictureKeepsItsShape()
{
    QFETCH(QString, file);
    QFETCH(int, pictureWidth);
    QFETCH(int, pictureHeight);
    const QString source = file == "clip" ? clip : mediaFolder + file;
    ConversionTask task = ConversionTask::ForSource(source, 1.0);
    task.outputName = QStringLiteral("shape");
    QVERIFY(Convert(0, 2, task).last().exitCode == 0);
    // The black bars are what cropdetect finds around the picture.
    QProcess detect;
    detect.setProcessChannelMode(QProcess::MergedChannels);
    detect.start("ffmpeg", {"-hide_banner", "-nostdin", "-i", outputDir + "shape.3gp", "-vf",
                            "cropdetect=limit=0.1:round=2:reset=0", "-f", "null", "-"});
    QVERIFY(detect.waitForFinished(60000));
    const QString log = QString::fromUtf8(detect.readAll());
    QRegularExpressionMatch crop;
    for (const QRegularExpressionMatch &m :
         QRegularExpression(QStringLiteral("crop=(\\d+):(\\d+):")).globalMatch(log))
        crop = m; // the last one has seen every frame
    QVERIFY2(crop.hasMatch(), qPrintable(log.right(300)));
    QVERIFY2(qAbs(crop.captured(1).toInt() - pictureWidth) <= 6, qPrintable(crop.captured(0)));
    QVERIFY2(qAbs(crop.captured(2).toInt() - pictureHeight) <= 6, qPrintable(crop.captured(0)));
}

void TestProfiles::corruptSourceFails()
{
    ConversionTask task = ConversionTask::ForSource(mediaFolder + "broken.mp4", 5.0);
    const QList<ProfileRunner::Pass> passes = Convert(0, 2, task);
    QCOMPARE(passes.size(), 1);
    QVERIFY(passes[0].exitCode != 0);
    QVERIFY(!QFile::exists(outputDir + "broken.3gp"));
}

QTEST_GUILESS_MAIN(TestProfiles)
#include "tst_profiles.moc"
