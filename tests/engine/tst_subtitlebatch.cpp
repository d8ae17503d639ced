// SPDX-License-Identifier: GPL-3.0-or-later
// A batch that asks for subtitles, task by task: subtitles beside the video or inside it, text
// or pictures, none, unreadable ones, none within the part converted.
#include "cues.h"
#include "engine.h"

#include <QTest>

using namespace support;

namespace {

// A Blu-ray subtitle stream (PGS, as a .sup file holds it) showing a white `box` on a canvas of
// `canvas` at each of `times`: ffmpeg reads and draws such pictures but cannot make them.
QByteArray PictureSubtitles(QSize canvas, QRect box, const QList<QPair<double, double>> &times)
{
    const auto be = [](QByteArray &out, quint32 value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out += char(value >> (8 * i));
    };
    QByteArray stream;
    const auto segment = [&](char type, double seconds, const QByteArray &data) {
        stream += "PG";
        be(stream, quint32(seconds * 90000), 4), be(stream, 0, 4);
        stream += type;
        be(stream, quint32(data.size()), 2);
        stream += data;
    };
    int composition = 0;
    // An empty screen at 0 s first: a stream that starts later would be moved to 0 when muxed.
    QByteArray empty;
    be(empty, canvas.width(), 2), be(empty, canvas.height(), 2), empty += char(0x10);
    be(empty, composition++, 2), empty += char(0x80), empty += QByteArray(3, 0);
    segment(0x16, 0, empty);
    segment(char(0x80), 0, QByteArray());
    for (const auto &[start, end] : times) {
        for (const bool shown : {true, false}) {
            QByteArray pcs, wds, pds, ods;
            be(pcs, canvas.width(), 2), be(pcs, canvas.height(), 2), pcs += char(0x10);
            be(pcs, composition++, 2), pcs += char(shown ? 0x80 : 0), pcs += QByteArray(2, 0);
            pcs += char(shown ? 1 : 0);
            if (shown)
                be(pcs, 0, 4), be(pcs, box.x(), 2), be(pcs, box.y(), 2);
            wds += char(1), wds += char(0);
            for (int v : {box.x(), box.y(), box.width(), box.height()})
                be(wds, v, 2);
            segment(0x16, shown ? start : end, pcs);
            segment(0x17, shown ? start : end, wds);
            if (shown) {
                pds += QByteArray(2, 0) + QByteArray("\x01\xeb\x80\x80\xff", 5); // white
                QByteArray lines;
                for (int y = 0; y < box.height(); ++y) { // one run of colour 1, then the line end
                    lines += char(0);
                    be(lines, 0xC000 | box.width(), 2);
                    lines += char(1) + QByteArray(2, 0);
                }
                be(ods, 0, 2), ods += char(0), ods += char(0xC0);
                be(ods, quint32(lines.size() + 4), 3), be(ods, box.width(), 2);
                be(ods, box.height(), 2), ods += lines;
                segment(0x14, start, pds);
                segment(0x15, start, ods);
            }
            segment(char(0x80), shown ? start : end, QByteArray());
        }
    }
    return stream;
}

} // namespace

class TestSubtitleBatch : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    EnginePaths paths;
    std::unique_ptr<Batch> batch; // run once for all rows of batchTasks()
    QStringList summaries;        // each task's tip lines before the batch

    // One batch of six tasks, two at a time, into a folder named like a filter graph: the
    // type 1 profile 1 (176x144, 15 fps) converts 0.5 s to 2.5 s of a 16:9 clip of 3 s.
    void RunBatch()
    {
        const QString in = NewFolder(dir, folders, "batch");
        const QString out = in + "/it's [0:v],x;y=z\\";
        QVERIFY(QDir().mkpath(out) && (paths = MakeProgramFolder(in + "/program")).IsValid());
        const QString clip =
            SharedClip(Clip{.size = "320x180", .seconds = 3, .rate = "15", .sar = {}, .extra = {}});
        const QByteArray cues = "1\n00:00:01,000 --> 00:00:01,500\nFirst\n\n"
                                "2\n00:00:02,000 --> 00:00:02,400\nSecond line\n";
        for (const char *name : {"Beside.mp4", "Nothing.mp4", "Junk.mp4", "Outside.mp4"})
            QVERIFY(QFile::link(clip, in + u'/' + name));
        QVERIFY(WriteFile(in + "/Beside.srt", cues) && WriteFile(in + "/Junk.srt", Junk(2000)) &&
                WriteFile(in + "/Outside.srt", "00:00:02,600 --> 00:00:02,900\nLate\n") &&
                WriteFile(in + "/cues.srt", cues));
        QVERIFY(
            WriteFile(in + "/cues.sup", PictureSubtitles(QSize(320, 180), QRect(40, 160, 240, 20),
                                                         {{1.0, 1.5}, {2.0, 2.4}})));
        // The picture alone beside the streams: the sound's priming would move Matroska's times.
        for (const QString &stream : {QStringLiteral("srt"), QStringLiteral("sup")})
            QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", clip, "-i",
                                       in + "/cues." + stream, "-map", "0:v", "-map", "1", "-c",
                                       "copy", "-metadata:s:s:0", "language=fre",
                                       in + (stream == "srt" ? "/Inside.mkv" : "/Pictures.mkv")})
                        .ok());
        batch = std::make_unique<Batch>(paths, 1, out);
        BatchOptions options;
        options.burnSubtitles = true;
        batch->engine.SetOptions(options);
        batch->engine.SetSimultaneousTasks(2);
        for (const char *name : {"Beside.mp4", "Inside.mkv", "Nothing.mp4", "Junk.mp4",
                                 "Outside.mp4", "Pictures.mkv"}) {
            batch->Add(in + u'/' + name, 2.5, 0.5);
            summaries.append(
                batch->engine.TaskSummaries(int(summaries.size()), options).join(u'\n'));
        }
        QVERIFY(batch->Run(300000));
    }

private slots:
    // A batch that asks for subtitles: each task draws those it has, a file beside its video
    // or a stream inside, each cue from the first frame at or after its time in the part
    // converted to the last before its end; a task without them converts without and says so;
    // one whose subtitles cannot be read fails saying why. The tip names them beforehand; the
    // folder holds the finished outputs alone.
    void batchTasks_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("top");       // of the 12 rows where the subtitles show
        QTest::addColumn<QString>("shown"); // the output's frames that show them there
        QTest::addColumn<QString>("said");  // in the log, or why the task failed
        const QString both =
            QString(8, u'.') + QString(7, u'#') + QString(8, u'.') + QString(6, u'#') + u'.';
        const int bar = 128, picture = 110; // the last line below the picture; its bottom
        QTest::newRow("a file beside the video")
            << 0 << "subtitles: Beside.srt" << bar << both << "";
        QTest::newRow("a text stream inside the video")
            << 1 << "subtitles: subtitle stream 0 of the video (SubRip, fre)" << bar << both << "";
        QTest::newRow("picture subtitles inside the video, laid over its picture")
            << 5 << "subtitles: subtitle stream 0 of the video (Blu-ray pictures, fre)" << picture
            << both << "";
        QTest::newRow("none found: converted without, said in the log")
            << 2 << "subtitles: none found" << bar << QString(30, u'.')
            << "no subtitles are drawn: none were found";
        QTest::newRow("a file of binary junk: the task fails saying why")
            << 3 << "the subtitle file @IN/Junk.srt is not a subtitle file (it holds binary data)"
            << bar << ""
            << "the subtitle file @IN/Junk.srt is not a subtitle file (it holds binary data)";
        QTest::newRow("no cue within the part converted: converted without, said in the log")
            << 4 << "subtitles: Outside.srt (none fall within the part converted)" << bar
            << QString(30, u'.') << "no subtitles are drawn: none fall within the part converted";
    }
    void batchTasks()
    {
        QFETCH(int, task);
        QFETCH(QString, summary);
        QFETCH(int, top);
        QFETCH(QString, shown);
        QFETCH(QString, said);
        if (!batch)
            RunBatch();
        QVERIFY(batch && !batch->engine.IsConverting());
        const QString in = QFileInfo(batch->tasks.GetAt(task).sourcePath).absolutePath();
        QCOMPARE(summaries.value(task), summary.replace("@IN", in));
        said.replace("@IN", in);
        if (shown.isEmpty()) {
            QVERIFY(!batch->Finished(task));
            QCOMPARE(batch->host.failures.value(task), said);
            return;
        }
        QVERIFY2(batch->Finished(task), qPrintable(TaskEntry(paths, task)));
        QVERIFY(QString::fromUtf8(Contents(paths.logFile)).contains(said));
        // Where the frames turned white against the same part converted without subtitles.
        const QSize frame(176, 144);
        const QList<QImage> plain = GreyFrames({"-i", batch->OutputOf(2)}, frame);
        const QList<QImage> drawn = GreyFrames({"-i", batch->OutputOf(task)}, frame);
        QCOMPARE(drawn.size(), plain.size());
        QString differs;
        for (qsizetype n = 0; n < drawn.size(); ++n) {
            int changed = 0;
            for (int y = top; y < top + 12; ++y)
                for (int x = 0; x < frame.width(); ++x) { // turned white: drawn
                    const int a = drawn[n].constScanLine(y)[x], b = plain[n].constScanLine(y)[x];
                    changed += a > 215 && a - b > 60;
                }
            differs += changed >= 20 ? u'#' : u'.';
        }
        QCOMPARE(differs, shown);
        if (task == 4) // the last row: every finished task left its output alone
            QCOMPARE(FilesIn(batch->host.folderText),
                     QStringList({"Beside.3gp", "Inside.3gp", "Nothing.3gp", "Outside.3gp",
                                  "Pictures.3gp"}));
    }
};

QTEST_GUILESS_MAIN(TestSubtitleBatch)
#include "tst_subtitlebatch.moc"
