// SPDX-License-Identifier: GPL-3.0-or-later
// What the tools' console output makes of a running task: the figures read from a chunk of it,
// and the Progress cell they give.
#include "conversiontask.h"
#include "progress/progressfields.h"
#include "progress/progresstext.h"

#include <QTest>

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    // A task trimmed to 20..120 s, 4 s into its first pass, which showed 25 frames/s so far:
    // what one chunk gives ("frames size seconds", "-" for none), and what its Progress cell
    // then shows (nothing until a size and a time); the clock is the Begin and End cells' too.
    void statusLines_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<char>("previous"); // the last byte of the chunk before
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("elapsedMs"); // since the task started
        const auto row = [](const char *name, const QByteArray &chunk,
                            const char *figures = "- - -", const char *shown = "",
                            char previous = '\n', int elapsedMs = 4000) {
            QTest::newRow(name) << chunk << previous << QString(figures) << QString(shown)
                                << elapsedMs;
        };
        // ffmpeg 5.1's own lines, as it wrote them for a picture into AVI and into nothing.
        row("ffmpeg 5.1 line, size in kB",
            "frame=   51 fps= 25 q=2.0 size=     512kB time=00:00:02.04 bitrate=2056.0kbits/s\r",
            "51 512 2.04", "00:00:02  0.50MB  12.75Frames/s  %2 ");
        row("ffmpeg 5.1 last line, Lsize, then its summary",
            "frame=   65 fps= 25 q=2.0 Lsize=     661kB time=00:00:02.60 bitrate=2083.2kbits/s\n"
            "video:654kB audio:0kB subtitle:0kB other streams:0kB muxing overhead: 1.097670%\n",
            "65 661 2.6", "00:00:02  0.65MB  16.25Frames/s  %3 ");
        row("ffmpeg 5.1 null output: size N/A shows nothing",
            "frame=   16 fps= 16 q=-0.0 size=N/A time=00:00:01.06 bitrate=N/A", "16 - 1.06");
        row("ffmpeg 5.1 first line: time N/A",
            "frame=    0 fps=0.0 q=0.0 size=       0kB time=N/A bitrate=N/A", "0 0 -");
        row("newer ffmpeg: size in KiB",
            "frame=  750 fps=250 q=2.0 size=   10240KiB time=00:00:30.00 bitrate=2796.2kbits/s",
            "750 10240 30", "00:00:30  10.00MB  187.50Frames/s  %30 ");
        row("time in seconds, not a clock", "frame=  123 fps= 25 size=    1234kB time=12.34 bi",
            "123 1234 12.34", "00:00:12  1.21MB  30.75Frames/s  %12 ");
        row("past a minute: minutes on the clock",
            "frame= 1637 fps= 25 q=2.0 size=    2048kB time=00:01:05.48 bitrate= 256.2kbits/s\r",
            "1637 2048 65.48", "00:01:05  2.00MB  409.25Frames/s  %65 ");
        row("past an hour: hours, as many digits as they need",
            "frame=  900 size=  102400kB time=123:04:05.06 bitrate= 256.2kbits/s\r",
            "900 102400 443045.06", "123:04:05  100.00MB  225.00Frames/s  %100 ");
        row("a chunk in the task's first millisecond keeps the last rate",
            "frame=   51 fps=0.0 q=2.0 size=     512kB time=00:00:02.04 bitrate=2056.0kbits/s\r",
            "51 512 2.04", "00:00:02  0.50MB  25.00Frames/s  %2 ", '\n', 0);
        row("negative clock at the start", "size=      0kB time=-00:00:00.04 b", "- 0 -0.04");
        row("GStreamer progress and end of run", "progressreport0 (00:00:05): 5 / 10 seconds ( "
                                                 "50.0 %)\rExecution ended after 0:00:01\n");
        row("AtomicParsley progress", "Started writing to temp file.\r Progress: ====>  48%|\r");
        row("keys inside a description", "Input #0, from 'testsrc2=size=352x288:time=1.5':\n");
        row("garbage after the keys", "frame=abcdef fps=? size=xxxxxxxxkB time=zz:zz:zz.zz bitr");
        row("a NUL byte ends the chunk",
            QByteArray("frame=    7 fps=1\0 size=       8kB time=00:00:02.00 ", 50), "7 - -");
        row("size cut by the chunk's end", "frame=    9 size=    12", "9 - -");
        row("clock cut by the chunk's end", "size=     512kB time=00:01:1", "- 512 -");
        row("key right after the previous chunk's blank", "size=     512kB time=00:00:04.00 b",
            "- 512 4", "00:00:04  0.50MB  25.00Frames/s  %4 ", ' ');
        row("key going on from the previous chunk's word", "size=     512kB time=00:00:04.00 b",
            "- - 4", "", '=');
    }
    void statusLines()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(char, previous);
        const ProgressFields f = ProgressFields::Read(chunk, previous);
        const auto text = [](const auto &v) {
            return v ? QString::number(double(*v), 'g', 10) : QStringLiteral("-");
        };
        QTEST(text(f.frames) + u' ' + text(f.sizeKB) + u' ' + text(f.encodedSeconds), "figures");
        ConversionTask task = ConversionTask::ForSource("/v/a.avi", 120);
        task.beginSeconds = 20, task.framesPerSecond = 25, task.state = TASK_ENCODING;
        QFETCH(int, elapsedMs);
        f.TakeInto(task, quint32(elapsedMs));
        QFETCH(QString, shown);
        QCOMPARE(ProgressText(task), shown);
        if (!shown.isEmpty())
            QCOMPARE(FormatClock(task.encodedSeconds), shown.section(u' ', 0, 0));
    }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
