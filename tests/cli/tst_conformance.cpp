// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped profile, run by kestrani-cli as users run it, gives a file a phone takes: the
// brand of its type, the video's name as its title, the codecs, picture size, rate and sound its
// title promises, the picture's shape kept, a stream that keeps to the level it declares, sound
// (none from a source without), and exactly the stretch of the source that -b and -e ask for.
#include "engine.h"
#include "levelcheck.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace support;

namespace {

// The trim of every run: long enough for a level's buffer to show an overrun.
constexpr double begin = 0.2, end = 1.8;

struct Run {
    int type;
    QString title, folder;
    QList<int> sources;
    std::unique_ptr<QProcess> process;
};

} // namespace

class TestConformance : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    // 4:3, 16:9, 2:1 pixels, a phone's 3GP with AMR packed 5 frames a sample, one without sound,
    // one marked to be turned a quarter (a phone held upright)
    QStringList sources;
    const QList<double> sourceRates{25, 30000.0 / 1001, 25, 10, 25, 25};
    const QList<double> sourceShapes{4.0 / 3, 16.0 / 9, 8.0 / 3,
                                     0,       4.0 / 3,  3.0 / 4}; // 0: not measured
    static constexpr int soundless = 4, upright = 5;
    std::vector<Run> runs; // one per profile, all started at once

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        Clip clip;
        clip.seconds = 2.0, clip.size = "320x240";
        sources << SharedClip(clip, "four-three.mp4");
        clip.size = "384x216", clip.rate = "30000/1001";
        sources << SharedClip(clip, "wide.mp4");
        clip.size = "240x180", clip.rate = "25", clip.sar = "2";
        sources << SharedClip(clip, "wide pixels.mp4") << MediaFile("filetype_fixture2.3gp");
        clip.sar.clear(), clip.sound = false;
        sources << SharedClip(clip, "soundless.mp4");
        clip.sound = true, clip.rotate = 90;
        sources << SharedClip(clip, "upright.mp4");
        int type = -1;
        for (const QString &line :
             QString::fromUtf8(RunTool(cliProgram, {"--list-profiles"}).out).split('\n')) {
            const auto title = QRegularExpression("^   [ *] +(\\d+)  (.+)$").match(line);
            type += line.startsWith(QString::number(type + 1) + "  ");
            if (!title.hasMatch())
                continue;
            QList<int> from{int(runs.size() % 3)};
            if (type == 0)
                from << 3; // the phone's own sound, repacked before the first pass
            if (title.captured(1) == "1")
                from << soundless; // a picture alone, converted in every type
            if (title.captured(1) == "2")
                from << upright; // turned as it is shown
            Run &run = runs.emplace_back(Run{type, title.captured(2), NewFolder(dir, folders), from,
                                             std::make_unique<QProcess>()});
            QStringList arguments{
                "-t", QString::number(type),  "-p", title.captured(1),    "-j", "2",
                "-b", QString::number(begin), "-e", QString::number(end), "-o", run.folder};
            for (int source : from)
                arguments << sources[source];
            run.process->start(cliProgram, arguments);
        }
        QCOMPARE(runs.size(), size_t(14));
    }

    void profiles_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("source");
        for (size_t i = 0; i < runs.size(); ++i)
            for (int source : runs[i].sources)
                QTest::addRow("type %d, %s, from %s", runs[i].type, qPrintable(runs[i].title),
                              qPrintable(QFileInfo(sources[source]).fileName()))
                    << int(i) << source;
    }

    void profiles()
    {
        QFETCH(int, index);
        QFETCH(int, source);
        const Run &run = runs[index];
        run.process->waitForFinished(120000); // false when an earlier row saw it end
        QCOMPARE(run.process->state(), QProcess::NotRunning);
        QCOMPARE(run.process->exitCode(), 0);
        QCOMPARE(FilesIn(run.folder).size(), run.sources.size());
        const QString output = run.folder + u'/' + QFileInfo(sources[source]).completeBaseName() +
                               (run.type == 2 ? ".3g2" : ".3gp");

        // What the title promises: "Standard - 176x144, 15 fps (H.263, AMR 12.2 kbit/s)".
        const auto promise =
            QRegularExpression("(\\d+)x(\\d+), (\\d+) fps \\((H\\.263|MPEG-4|H\\.264), (AMR|AAC)")
                .match(run.title);
        QVERIFY(promise.hasMatch());
        const QString codec = QString(promise.captured(4)).remove('.').remove('-').toLower();
        const QJsonObject probe = Probe(output);
        const QJsonObject picture = StreamOf(probe, "video"), sound = StreamOf(probe, "audio");
        const bool avc = codec == "h264";
        QCOMPARE(Brand(probe), run.type == 2 ? (avc ? "3g2b" : "3g2a") : (avc ? "3gp6" : "3gp4"));
        // A second, independent reader of the container sees the same brand and streams, and
        // the title the phone shows: the video's name.
        const bool silent = source == soundless;
        QCOMPARE(MediaInfoGeneral(output, "CodecID%|%VideoCount%|%AudioCount%|%Title"),
                 Brand(probe) + (silent ? "|1||" : "|1|1|") +
                     QFileInfo(sources[source]).completeBaseName());
        QCOMPARE(picture["codec_name"].toString(), codec);
        const bool amr = promise.captured(5) == "AMR";
        QCOMPARE(sound["codec_name"].toString(), silent ? "" : amr ? "amr_nb" : "aac");
        // The sound's rate, and its one channel where the title says "mono": an AMR frame of
        // 20 ms holds the mode's bits and a byte of header; AAC keeps near its target.
        const auto soundTitle =
            QRegularExpression("(AMR|AAC) ([\\d.]+) kbit/s( mono)?").match(run.title);
        const double promised = soundTitle.captured(2).toDouble() * 1000;
        const double bits = sound["bit_rate"].toString().toDouble();
        QVERIFY2(silent || (amr ? bits == (std::ceil(promised * 0.02 / 8) + 1) * 400
                                : qAbs(bits / promised - 1) < 0.1),
                 qPrintable(QString::number(bits)));
        QVERIFY(silent || soundTitle.captured(3).isEmpty() || sound["channels"].toInt() == 1);
        QCOMPARE(QSize(picture["width"].toInt(), picture["height"].toInt()),
                 QSize(promise.captured(1).toInt(), promise.captured(2).toInt()));
        // H.263 at these sizes has 12:11 pixels, the others square ones.
        QCOMPARE(picture["sample_aspect_ratio"].toString(), codec == "h263" ? "12:11" : "1:1");
        // The picture keeps the source's shape, black bars filling the rest of the frame (the
        // generated sources have no dark edges of their own).
        const QString found = QString::fromUtf8(
            RunTool("ffmpeg", {"-v", "info", "-i", output, "-vf", "cropdetect=round=2:reset=0",
                               "-an", "-f", "null", "-"})
                .err);
        const auto area =
            QRegularExpression("crop=(\\d+):(\\d+):").match(found.mid(found.lastIndexOf("crop=")));
        const double shape = area.captured(1).toDouble() / area.captured(2).toDouble() *
                             (codec == "h263" ? 12.0 / 11 : 1.0);
        QVERIFY2(!sourceShapes[source] || qAbs(shape / sourceShapes[source] - 1) < 0.03,
                 qPrintable(QString::number(shape)));

        const levelcheck::Result level = levelcheck::Check(output);
        QVERIFY2(level.Fits(), qPrintable(level.Text()));
        // x264 notes the rate it was held to: one over the level's would overrun it in time.
        const QByteArray bytes = Contents(output);
        const qsizetype vbv = bytes.indexOf("vbv_maxrate=");
        QVERIFY(vbv < 0 ||
                bytes.mid(vbv + 12).split(' ')[0].toDouble() * 1000 <= level.limits.bitsPerSecond);
        // The title's rate, or the source's when lower (H.263's clock ticks 1001/30000 s).
        const double fps = level.macroblocksPerSecond / level.frameMacroblocks;
        const double want = qMin(promise.captured(3).toDouble(), sourceRates[source]);
        QVERIFY2(qAbs(fps / want - 1) < 0.005, qPrintable(QString::number(fps)));
        // The trim, to within half a picture and less than a sound frame.
        const double pictures = picture["duration"].toString().toDouble();
        const double sounds = sound["duration"].toString().toDouble();
        QVERIFY2(qAbs(pictures - (end - begin)) < 0.5 / fps, qPrintable(QString::number(pictures)));
        QVERIFY2(silent || qAbs(sounds - (end - begin)) < 0.015,
                 qPrintable(QString::number(sounds)));
    }
};

QTEST_GUILESS_MAIN(TestConformance)
#include "tst_conformance.moc"
