// SPDX-License-Identifier: GPL-3.0-or-later
// The batch end to end: the real driver runs the shipped profiles with the real tools on
// generated clips and on the sample media, and the outputs are read back by ffprobe and
// mediainfo.
#include "batchfixture.h"
#include "mediacheck.h"

#include <QTest>

using namespace batchtest;
using namespace mediacheck;

namespace {

const QString finishedText =
    QStringLiteral("                   Converting Finished                    ");

QString MediaInfo(const QString &path, const QString &inform)
{
    return QString::fromUtf8(Run("mediainfo", {"--Inform=" + inform, path})).trimmed();
}

double FrameRate(const QJsonObject &video)
{
    const QStringList parts = video["avg_frame_rate"].toString().split('/');
    const double den = parts.value(1).toDouble();
    return den > 0 ? parts.value(0).toDouble() / den : 0.0;
}

bool Is3gpBrand(const QString &brand, int outputType)
{
    const QStringList brands =
        outputType == 2 ? QStringList{"3g2a", "3g2b", "3g2c"} : QStringList{"3gp4", "3gp5", "3gp6"};
    return brands.contains(brand);
}

} // namespace

class TestBatchConvert : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;   // 2 s 320x240 with sound
    QString silent; // 1 s 176x144, no sound track
    int outputFolders = 0;

    QString NewOutputFolder(const QString &name)
    {
        const QString folder = dir.filePath(name);
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        QVERIFY(MakeProgramFolder(dir.filePath("program")));
        clip = dir.filePath("clip.mp4");
        silent = dir.filePath("silent.mp4");
        QVERIFY(MakeClip(clip, 2.0, "320x240"));
        QVERIFY(MakeClip(silent, 1.0, "176x144", false));
    }

    void defaultProfileOfEachType_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<QString>("videoCodec");
        QTest::addColumn<QString>("mediainfoVideo");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("audioCodec");
        QTest::addColumn<QString>("mediainfoAudio");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QList<int>>("states");
        QTest::newRow("3GP with AMR: H.263 QCIF, AMR-NB 8 kHz mono")
            << 0 << "h263"
            << "H.263" << QSize(176, 144) << "amr_nb"
            << "AMR" << 8000 << 1 << QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED};
        QTest::newRow("3GP with AAC: H.264 QVGA, AAC 44.1 kHz stereo")
            << 1 << "h264"
            << "AVC" << QSize(320, 240) << "aac"
            << "AAC" << 44100 << 2 << QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED};
        QTest::newRow("3G2 with AAC: H.264 QCIF, AAC 32 kHz stereo")
            << 2 << "h264"
            << "AVC" << QSize(176, 144) << "aac"
            << "AAC" << 32000 << 2
            << QList<int>{TASK_ENCODING, TASK_EXPORTING, TASK_CHANGING, FINISHED};
    }
    void defaultProfileOfEachType()
    {
        QFETCH(int, outputType);
        QFETCH(QString, videoCodec);
        QFETCH(QString, mediainfoVideo);
        QFETCH(QSize, size);
        QFETCH(QString, audioCodec);
        QFETCH(QString, mediainfoAudio);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(QList<int>, states);

        const QString out = NewOutputFolder(QStringLiteral("default%1").arg(outputType));
        Batch batch(outputType, out);
        batch.UseDefaultProfile();
        batch.host.shutdownTicked = false;
        batch.Add(clip, 1.4, 0.4); // the trim: 1 s from 0.4 s on
        batch.engine.OnStartClicked();

        QCOMPARE(batch.host.states.value(0), states);
        const QString output = batch.OutputOf(0);
        QCOMPARE(FilesIn(out), QStringList{QFileInfo(output).fileName()}); // intermediates gone
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
        QCOMPARE(batch.host.settings, (QList<bool>{false, true}));
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, finishedText);
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
        QCOMPARE(batch.engine.converting, 0);

        const QJsonObject probe = Probe(output);
        QVERIFY2(Is3gpBrand(Brand(probe), outputType), qPrintable(Brand(probe)));
        const QJsonObject video = StreamOf(probe, "video");
        const QJsonObject audio = StreamOf(probe, "audio");
        QCOMPARE(video["codec_name"].toString(), videoCodec);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), size);
        QCOMPARE(audio["codec_name"].toString(), audioCodec);
        QCOMPARE(audio["sample_rate"].toString().toInt(), sampleRate);
        QCOMPARE(audio["channels"].toInt(), channels);
        const double frame = 1.0 / FrameRate(video);
        QVERIFY2(qAbs(Duration(probe) - 1.0) <= frame + 1e-3,
                 qPrintable(QString::number(Duration(probe))));

        QVERIFY(Is3gpBrand(MediaInfo(output, "General;%CodecID%"), outputType));
        QCOMPARE(
            MediaInfo(output, "Video;%Format%|%Width%x%Height%"),
            QStringLiteral("%1|%2x%3").arg(mediainfoVideo).arg(size.width()).arg(size.height()));
        QCOMPARE(MediaInfo(output, "Audio;%Format%|%SamplingRate%|%Channel(s)%"),
                 QStringLiteral("%1|%2|%3").arg(mediainfoAudio).arg(sampleRate).arg(channels));
        const double mediainfoSeconds = MediaInfo(output, "General;%Duration%").toDouble() / 1000;
        QVERIFY2(qAbs(mediainfoSeconds - 1.0) <= frame + 1e-3,
                 qPrintable(QString::number(mediainfoSeconds)));
    }

    // Sources with the traits phones' files and old cameras' files have.
    void sampleMedia_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("outputType");
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::newRow("rotated phone clip, blank in the name, to AMR")
            << "sideways movie.mov" << 0 << 0.0 << -1.0;
        QTest::newRow("non-square pixels, no sound, trimmed, to AAC")
            << "sar_2x1.mp4" << 1 << 1.0 << 2.0;
        QTest::newRow("5.1 sound and rotation, trimmed, to 3G2")
            << "rotate-buck-bunny.mp4" << 2 << 0.5 << 1.5;
        QTest::newRow("feature-phone 3GP, trimmed, to AMR")
            << "filetype_fixture2.3gp" << 0 << 2.0 << 3.5;
        QTest::newRow("interlaced camcorder clip to 3G2")
            << "filetype_fixture-raw.mts" << 2 << 0.0 << -1.0;
    }
    void sampleMedia()
    {
        QFETCH(QString, file);
        QFETCH(int, outputType);
        QFETCH(double, begin);
        QFETCH(double, end);

        const QString source = QStringLiteral(KESTRANI_MEDIA_DIR "/") + file;
        const double length = Duration(Probe(source));
        QVERIFY(length > 0);
        const double trimEnd = end < 0 ? length : end;
        const QString out = NewOutputFolder(QStringLiteral("media%1").arg(++outputFolders));
        Batch batch(outputType, out);
        batch.host.profileRow = 0; // the smallest profile: the sources are the point here
        batch.Add(source, trimEnd, begin);
        batch.engine.OnStartClicked();

        QCOMPARE(batch.host.states.value(0).last(), FINISHED);
        const QString output = batch.OutputOf(0);
        QCOMPARE(FilesIn(out), QStringList{QFileInfo(output).fileName()});
        const QJsonObject probe = Probe(output);
        QVERIFY2(Is3gpBrand(Brand(probe), outputType), qPrintable(Brand(probe)));
        QCOMPARE(StreamCount(probe, "video"), 1);
        QCOMPARE(StreamCount(probe, "audio"), qMin(1, StreamCount(Probe(source), "audio")));
        const double frame = 1.0 / FrameRate(StreamOf(probe, "video"));
        QVERIFY2(qAbs(Duration(probe) - (trimEnd - begin)) <= frame + 1e-3,
                 qPrintable(QStringLiteral("%1 for %2").arg(Duration(probe)).arg(trimEnd - begin)));
        QVERIFY(Is3gpBrand(MediaInfo(output, "General;%CodecID%"), outputType));
    }

    // The batch goes on after a task that fails, and only finished tasks count as finished.
    void corruptFileFailsAndNextConverts()
    {
        const QString out = NewOutputFolder("corrupt");
        Batch batch(1, out);
        batch.host.profileRow = 0;
        const QString broken = QStringLiteral(KESTRANI_MEDIA_DIR "/broken.mp4");
        batch.Add(broken, 2.0);                         // as if its length had been known
        batch.Add(dir.filePath("unreadable.avi"), 0.0); // the probe found nothing
        batch.Add(silent, 1.0);
        batch.engine.OnStartClicked();

        QCOMPARE(batch.host.states.value(0), (QList<int>{TASK_ENCODING, TASK_FAILED}));
        QCOMPARE(batch.host.states.value(1), QList<int>{TASK_FAILED});
        QCOMPARE(batch.host.states.value(2).last(), FINISHED);
        QCOMPARE(batch.tasks.GetAt(0).finished, 0);
        QCOMPARE(ProgressText(batch.tasks.GetAt(0)), QStringLiteral("Failed"));
        QCOMPARE(FilesIn(out), QStringList{"silent.3gp"});

        const QString log = ReadLog();
        QVERIFY(log.contains("TASK        =   1 (" + broken + ")."));
        QVERIFY(log.contains("pass            =   1."));
        QVERIFY(log.contains("exit code"));
        QVERIFY2(log.contains("moov atom not found"), qPrintable(log)); // the tool's own words
        QVERIFY(log.contains("TASK        =   2 (" + dir.filePath("unreadable.avi") + ")."));
        QVERIFY(log.contains("clip length is 0"));
        QVERIFY(!log.contains("TASK        =   3"));
    }

    // A second batch over the same list converts every task again, into new names.
    void secondBatchConvertsAgain()
    {
        const QString out = NewOutputFolder("again");
        Batch batch(0, out);
        batch.host.profileRow = 0;
        batch.Add(silent, 1.0);
        batch.engine.OnStartClicked();
        QCOMPARE(batch.tasks.GetAt(0).finished, 1);
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("silent"));
        batch.host.states.clear();
        batch.engine.OnStartClicked();
        QCOMPARE(batch.host.states.value(0), (QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED}));
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("silent (2)"));
        QCOMPARE(FilesIn(out), (QStringList{"silent (2).3gp", "silent.3gp"}));
    }
};

QTEST_GUILESS_MAIN(TestBatchConvert)
#include "tst_batchconvert.moc"
