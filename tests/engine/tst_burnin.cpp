// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitles burned into the picture: lines laid out for a phone's picture, cues that overlap
// or run long, room below the picture, and the script drawn by ffmpeg from any file name,
// each cue at its time after a trim; a batch that asks for subtitles, task by task.
#include "cues.h"
#include "engine.h"
#include "support.h"

#include "subtitles/burninfilter.h"
#include "subtitles/burninscript.h"

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

class TestBurnIn : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QString grey; // 8 s of a mid-grey 16:9 picture, 10 frames a second
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
    void initTestCase()
    {
        grey = dir.filePath("grey.mp4");
        QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                   "color=c=0x808080:size=320x180:rate=10", "-t", "8", "-c:v",
                                   "mpeg4", "-q:v", "2", grey})
                    .ok());
    }

    // Lines that fit the picture: the author's where they fit, else words broken into lines,
    // every two shown together balanced; more than two become pages. As ffmpeg draws them:
    // inside the picture with their margins, at most two, at the bottom, whatever the script
    // and the size.
    void lines_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<double>("pixelAspect");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        const auto row = [](const char *name, const char *text, const QStringList &lines,
                            QSize frame = QSize(176, 144), double pixelAspect = 1.0) {
            QTest::newRow(name) << frame << pixelAspect << QString::fromUtf8(text) << lines;
        };
        const double h263 = 12.0 / 11;
        row("a short cue stays one line", "Thank you for waiting.", {"Thank you for waiting."});
        row("the author's lines where they fit", "Hello.\nGoodbye.", {"Hello.", "Goodbye."});
        row("two lines of about the same width",
            "Turn left after the bakery and walk past the school.",
            {"Turn left after the bakery", "and walk past the school."});
        row("a dialogue dash starts a line",
            "- Are you coming with us to the harbour tonight?\n- No.",
            {"- Are you coming with us", "to the harbour tonight?", "- No."});
        row("Chinese breaks between characters", "火车九点从老车站出发，我们明天见。",
            {"火车九点从老车站", "出发，我们明天见。"});
        row("a word longer than a line is cut", "Donaudampfschifffahrtsgesellschaftskapitän",
            {"Donaudampfschifffahrtsge", "sellschaftskapitän"});
        row("176x144 with 12:11 pixels, two lines", "The market closes early on Sunday afternoons.",
            {"The market closes early", "on Sunday afternoons."}, QSize(176, 144), h263);
        row("128x96 with 12:11 pixels, the widest letters", "WWWWW MMMMM WWWW MMMM WWWW MMMM",
            {"WWWWW MMMMM", "WWWW MMMM", "WWWW MMMM"}, QSize(128, 96), h263);
        row("320x240, Cyrillic capitals", "ЖИЗНЬ ПРЕКРАСНА, ШЕСТЬ ЩЕДРЫХ ЮНОШЕЙ ЖДУТ ФЪЕЗДА",
            {"ЖИЗНЬ ПРЕКРАСНА, ШЕСТЬ", "ЩЕДРЫХ ЮНОШЕЙ ЖДУТ", "ФЪЕЗДА"}, QSize(320, 240));
        row("176x144, Arabic right to left", "يغادر القطار في التاسعة من المحطة القديمة.",
            {"يغادر القطار في", "التاسعة من المحطة", "القديمة."});
    }
    void lines()
    {
        QFETCH(QSize, frame);
        QFETCH(double, pixelAspect);
        QFETCH(QString, text);
        const BurnInStyle style = BurnInStyle::For(frame, pixelAspect);
        QTEST(style.Wrap(text), "lines");
        const QString script = NewFolder(dir, folders, "drawn") + "/lines.ass";
        QVERIFY(WriteFile(script, BurnInScript::Write(TrackOf("0-5 " + text), style)));
        const QString size = QStringLiteral("%1x%2").arg(frame.width()).arg(frame.height());
        const QList<QImage> frames =
            GreyFrames({"-f", "lavfi", "-i", "color=black:size=" + size + ":rate=1", "-t", "1",
                        "-vf", BurnInFilter::Script(script)},
                       frame);
        QCOMPARE(frames.size(), 1);
        const QRect ink = Ink(frames.first(), 100);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.left() >= 1 && ink.right() <= frame.width() - 2 &&
                     ink.top() >= frame.height() - style.BlockHeight() &&
                     ink.bottom() <= frame.height() - style.bottomMargin,
                 qPrintable(QStringLiteral("ink from (%1, %2) to (%3, %4), block %5")
                                .arg(ink.left())
                                .arg(ink.top())
                                .arg(ink.right())
                                .arg(ink.bottom())
                                .arg(style.BlockHeight())));
    }

    // Cues that overlap share the time they overlap; no event holds more than two lines.
    void events_data()
    {
        QTest::addColumn<QString>("cues");
        QTest::addColumn<QString>("events");
        const auto row = [](const char *name, const char *cues, const char *events) {
            QTest::newRow(name) << QString(cues) << QString(events);
        };
        row("overlapping cues share the overlap", "1-3 One; 2-4 Two",
            "1.000-2.000 One; 2.000-3.000 One|Two; 3.000-4.000 Two");
        row("a cue within another", "1-5 Long; 2-3 Short",
            "1.000-2.000 Long; 2.000-3.000 Long|Short; 3.000-5.000 Long");
        row("the same cue twice shows once", "1-2 Twice; 1-2 Twice", "1.000-2.000 Twice");
        row("too long for two lines: pages, each for its share",
            "0-4 We will meet again near the river bridge after the market closes on Sunday, and "
            "then we walk home.",
            "0.000-2.063 We will meet again near|the river bridge after the; 2.063-4.000 market "
            "closes on Sunday,|and then we walk home.");
    }
    void events()
    {
        QFETCH(QString, cues);
        SubtitleTrack shown;
        for (const BurnInScript::Event &e :
             BurnInScript::Events(TrackOf(cues), BurnInStyle::For(QSize(176, 144))))
            shown.cues.append({e.start, e.end, e.lines.join(u'\n')});
        QTEST(Summary(shown), "events");
    }

    // The pad filter of a chain raised to leave room below the picture; anything else in the
    // chain as it was.
    void roomBelow_data()
    {
        QTest::addColumn<QString>("chain");
        QTest::addColumn<QString>("raised");
        const auto row = [](const char *name, const char *chain, const char *raised = nullptr) {
            QTest::newRow(name) << QString(chain) << QString(raised ? raised : chain);
        };
        row("the profiles' pad",
            "yadif,scale='min(176,round(144*dar/2)*2)':'min(144,round(176/dar/2)*2)',setsar=1,"
            "pad=176:144:(ow-iw)/2:(oh-ih)/2,fps=fps='min(source_fps,15)':start_time=0",
            "yadif,scale='min(176,round(144*dar/2)*2)':'min(144,round(176/dar/2)*2)',setsar=1,"
            "pad='176:144:(ow-iw)/2:max(0,min((oh-ih)/2,oh-ih-35))',"
            "fps=fps='min(source_fps,15)':start_time=0");
        row("y by name", "pad=w=176:h=144:y=10:x=0",
            "pad='w=176:h=144:y=max(0,min(10,oh-ih-35)):x=0'");
        row("quoted options and labels", "[in] pad='176:144:0:(oh-ih)/2':color=red [out];null",
            "[in] pad='176:144:0:max(0,min((oh-ih)/2,oh-ih-35)):color=red'[out];null");
        row("no pad: as it was", "scale=176:144,fps=15");
        row("a pad without y: as it was", "pad=176:144");
    }
    void roomBelow()
    {
        QFETCH(QString, chain);
        QTEST(BurnInFilter::WithRoomBelow(chain, 35), "raised");
    }

    // ffmpeg reads the script back from any file name and draws each cue from the first
    // frame at or after its start to the last before its end, after a trim at 5 s; the
    // picture moves up so that the lines sit in the bar below it.
    void burnIn_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<bool>("h263");
        QTest::addColumn<int>("pictureTop");
        const auto row = [](const char *name, const char *folder, const char *file,
                            QSize frame = QSize(176, 144), bool h263 = false, int top = 8) {
            QTest::newRow(name) << QString::fromUtf8(folder) << QString::fromUtf8(file) << frame
                                << h263 << top;
        };
        row("a plain name", "plain", "Film.ass");
        row("quotes", "it's", "say \"it's\" 'so'.ass");
        row("colons, commas, semicolons", "a:b,c;d", "x:y,z;w.ass");
        row("brackets and equals", "x],pad=9:9[y", "[0:v]=[out].ass");
        row("backslashes", "a\\", "b\\,c\\\\'.ass");
        row("a newline and blanks at the ends", " new\nline ", " a\nb .ass ");
        row("non-ASCII and percent signs", "Grüße %d", "日本 %s 100%.ass");
        row("12:11 pixels at 176x144: the picture goes to the top", "h263", "Film.ass",
            QSize(176, 144), true, 0);
        row("12:11 pixels at 128x96", "small", "Film.ass", QSize(128, 96), true, 0);
    }
    void burnIn()
    {
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QSize, frame);
        QFETCH(bool, h263);
        const QString where = NewFolder(dir, folders, "burn") + u'/' + folder;
        QVERIFY(QDir().mkpath(where));
        const QString script = where + u'/' + file;
        const BurnInStyle style = BurnInStyle::For(frame, h263 ? 12.0 / 11 : 1.0);
        const SubtitleTrack cues = TrackOf("2.5-3.5 Not yet; 6-7 At six|seconds; 7.55-9 Late");
        QVERIFY(WriteFile(script, BurnInScript::Write(cues.Trimmed(5, 3), style)));
        const QString w = QString::number(frame.width()), h = QString::number(frame.height());
        const QString chain =
            (h263 ? QStringLiteral("scale='min(%1,round(%2*dar*11/12/2)*2)':'min(%2,round(%1*12/"
                                   "11/dar/2)*2)',setsar=12/11,")
                  : QStringLiteral("scale='min(%1,round(%2*dar/2)*2)':'min(%2,round(%1/dar/2)*2)'"
                                   ",setsar=1,"))
                .arg(w, h) +
            QStringLiteral("pad=%1:%2:(ow-iw)/2:(oh-ih)/2").arg(w, h);
        QStringList pass{"-ss", "5", "-t", "3", "-i", grey, "-vf", chain};
        QVERIFY(BurnInFilter::BurnText(pass, script, style.BlockHeight()));
        const QList<QImage> frames = GreyFrames(pass, frame);
        QCOMPARE(frames.size(), 30);
        // Frame n starts at n/10 s: "At six seconds" from 1.0 s to 2.0 s, "Late" from 2.55 s.
        QString shown;
        for (const QImage &image : frames)
            shown += Ink(image.copy(0, frame.height() - style.BlockHeight(), frame.width(),
                                    style.BlockHeight()))
                             .isEmpty()
                         ? u'.'
                         : u'#';
        QCOMPARE(shown, QString(".........."
                                "##########"
                                "......####"));
        int top = 0;
        while (top < frame.height() && frames.first().constScanLine(top)[frame.width() / 2] < 64)
            ++top;
        QTEST(top, "pictureTop");
    }

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
        // The subtitles' line comes last, after the likely size's.
        QCOMPARE(summaries.value(task).section(u'\n', -1), summary.replace("@IN", in));
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

QTEST_GUILESS_MAIN(TestBurnIn)
#include "tst_burnin.moc"
