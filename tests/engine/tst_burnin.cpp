// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitles burned into the picture: lines laid out for a phone's picture, cues that overlap
// or run long, room below the picture, and the script drawn by ffmpeg from any file name,
// each cue at its time after a trim.
#include "cues.h"
#include "support.h"

#include "subtitles/burninfilter.h"
#include "subtitles/burninscript.h"

#include <QTest>

using namespace support;

namespace {

QString EventSummary(const QList<BurnInScript::Event> &events)
{
    QStringList shown;
    for (const BurnInScript::Event &e : events)
        shown.append(QStringLiteral("%1-%2 %3")
                         .arg(e.start, 0, 'f', 3)
                         .arg(e.end, 0, 'f', 3)
                         .arg(e.lines.join(u'|')));
    return shown.join(QStringLiteral("; "));
}

} // namespace

class TestBurnIn : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QString grey; // 8 s of a mid-grey 16:9 picture, 10 frames a second
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
    // every two shown together balanced; more than two become pages.
    void wrapping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines"); // at 176x144
        QTest::newRow("a short cue stays one line")
            << "Thank you for waiting." << QStringList{"Thank you for waiting."};
        QTest::newRow("the author's lines where they fit")
            << "Hello.\nGoodbye." << QStringList{"Hello.", "Goodbye."};
        QTest::newRow("two lines of about the same width")
            << "Turn left after the bakery and walk past the school."
            << QStringList{"Turn left after the bakery", "and walk past the school."};
        QTest::newRow("a dialogue dash starts a line")
            << "- Are you coming with us to the harbour tonight?\n- No."
            << QStringList{"- Are you coming with us", "to the harbour tonight?", "- No."};
        QTest::newRow("Chinese breaks between characters")
            << "火车九点从老车站出发，我们明天见。"
            << QStringList{"火车九点从老车站", "出发，我们明天见。"};
        QTest::newRow("a word longer than a line is cut")
            << "Donaudampfschifffahrtsgesellschaftskapitän"
            << QStringList{"Donaudampfschifffahrtsge", "sellschaftskapitän"};
    }
    void wrapping()
    {
        QFETCH(QString, text);
        QTEST(BurnInStyle::For(QSize(176, 144)).Wrap(text), "lines");
    }

    // Cues that overlap share the time they overlap; no event holds more than two lines.
    void events_data()
    {
        QTest::addColumn<QString>("cues");
        QTest::addColumn<QString>("events");
        QTest::newRow("overlapping cues share the overlap")
            << "1-3 One; 2-4 Two"
            << "1.000-2.000 One; 2.000-3.000 One|Two; 3.000-4.000 Two";
        QTest::newRow("a cue within another")
            << "1-5 Long; 2-3 Short"
            << "1.000-2.000 Long; 2.000-3.000 Long|Short; 3.000-5.000 Long";
        QTest::newRow("the same cue twice shows once") << "1-2 Twice; 1-2 Twice"
                                                       << "1.000-2.000 Twice";
        QTest::newRow("too long for two lines: pages, each for its share")
            << "0-4 We will meet again near the river bridge after the market closes on "
               "Sunday, and then we walk home."
            << "0.000-2.063 We will meet again near|the river bridge after the; "
               "2.063-4.000 market closes on Sunday,|and then we walk home.";
    }
    void events()
    {
        QFETCH(QString, cues);
        QTEST(EventSummary(BurnInScript::Events(TrackOf(cues), BurnInStyle::For(QSize(176, 144)))),
              "events");
    }

    // The pad filter of a chain raised to leave room below the picture; anything else in the
    // chain as it was.
    void roomBelow_data()
    {
        QTest::addColumn<QString>("chain");
        QTest::addColumn<QString>("raised");
        QTest::newRow("the profiles' pad")
            << "yadif,scale='min(176,round(144*dar/2)*2)':'min(144,round(176/dar/2)*2)',setsar=1,"
               "pad=176:144:(ow-iw)/2:(oh-ih)/2,fps=fps='min(source_fps,15)':start_time=0"
            << "yadif,scale='min(176,round(144*dar/2)*2)':'min(144,round(176/dar/2)*2)',setsar=1,"
               "pad='176:144:(ow-iw)/2:max(0,min((oh-ih)/2,oh-ih-35))',"
               "fps=fps='min(source_fps,15)':start_time=0";
        QTest::newRow("y by name") << "pad=w=176:h=144:y=10:x=0"
                                   << "pad='w=176:h=144:y=max(0,min(10,oh-ih-35)):x=0'";
        QTest::newRow("quoted options and labels")
            << "[in] pad='176:144:0:(oh-ih)/2':color=red [out];null"
            << "[in] pad='176:144:0:max(0,min((oh-ih)/2,oh-ih-35)):color=red'[out];null";
        QTest::newRow("no pad: as it was") << "scale=176:144,fps=15"
                                           << "scale=176:144,fps=15";
        QTest::newRow("a pad without y: as it was") << "pad=176:144"
                                                    << "pad=176:144";
    }
    void roomBelow()
    {
        QFETCH(QString, chain);
        QTEST(BurnInFilter::WithRoomBelow(chain, 35), "raised");
    }

    // The lines as ffmpeg draws them: inside the picture with their margins, at most two, at
    // the bottom, whatever the script and the size.
    void drawnLines_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<double>("pixelAspect");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        const double h263 = 12.0 / 11;
        QTest::newRow("176x144, one line")
            << QSize(176, 144) << 1.0 << "I think it will rain." << 1;
        QTest::newRow("176x144 with 12:11 pixels, two lines")
            << QSize(176, 144) << h263 << "The market closes early on Sunday afternoons." << 2;
        QTest::newRow("128x96 with 12:11 pixels, the widest letters")
            << QSize(128, 96) << h263 << "WWWWW MMMMM WWWW MMMM WWWW MMMM" << 3;
        QTest::newRow("320x240, Cyrillic capitals")
            << QSize(320, 240) << 1.0 << "ЖИЗНЬ ПРЕКРАСНА, ШЕСТЬ ЩЕДРЫХ ЮНОШЕЙ ЖДУТ ФЪЕЗДА" << 3;
        QTest::newRow("176x144, Chinese")
            << QSize(176, 144) << 1.0 << "火车九点从老车站出发，我们明天见。" << 2;
        QTest::newRow("176x144, Arabic right to left")
            << QSize(176, 144) << 1.0 << "يغادر القطار في التاسعة من المحطة القديمة." << 3;
        QTest::newRow("176x144, a word longer than a line")
            << QSize(176, 144) << 1.0 << "Donaudampfschifffahrtsgesellschaftskapitän" << 2;
    }
    void drawnLines()
    {
        QFETCH(QSize, frame);
        QFETCH(double, pixelAspect);
        QFETCH(QString, text);
        const BurnInStyle style = BurnInStyle::For(frame, pixelAspect);
        QTEST(int(style.Wrap(text).size()), "lines");
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
        QVERIFY2(
            ink.left() >= 1 && ink.right() <= frame.width() - 2,
            qPrintable(QStringLiteral("ink from x=%1 to %2").arg(ink.left()).arg(ink.right())));
        QVERIFY2(ink.top() >= frame.height() - style.BlockHeight() &&
                     ink.bottom() <= frame.height() - style.bottomMargin,
                 qPrintable(QStringLiteral("ink from y=%1 to %2, block %3")
                                .arg(ink.top())
                                .arg(ink.bottom())
                                .arg(style.BlockHeight())));
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
};

QTEST_GUILESS_MAIN(TestBurnIn)
#include "tst_burnin.moc"
