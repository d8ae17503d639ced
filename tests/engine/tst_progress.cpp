// SPDX-License-Identifier: GPL-3.0-or-later
// What the tools' console output makes of a running task: the figures read from a chunk of it,
// and the Progress cell they give.
#include "conversiontask.h"
#include "passrunner.h"
#include "progressfields.h"
#include "progresstext.h"

#include <QTest>

#include <cmath>

namespace {

// "frames size seconds", "-" for a figure the chunk did not give.
QString Figures(const ProgressFields &f)
{
    const auto one = [](const auto &v) {
        return v ? QString::number(double(*v), 'g', 10) : QStringLiteral("-");
    };
    return one(f.frames) + u' ' + one(f.sizeKB) + u' ' + one(f.encodedSeconds);
}

// A chunk's figures taken into a running task as the first pass takes them.
void Take(ConversionTask &task, const ProgressFields &f)
{
    task.sizeKB = f.sizeKB.value_or(task.sizeKB);
    task.encodedSeconds = f.encodedSeconds.value_or(task.encodedSeconds);
}

// ffmpeg 5.1's own output for a 2.6 s picture into AVI.
const QByteArrayList aviLines{
    "Input #0, lavfi, from 'testsrc2=size=352x288:rate=25':\n  Duration: N/A, start: 0.000000\n",
    "frame=    1 fps=0.0 q=3.6 size=      18kB time=00:00:00.04 bitrate=3761.6kbits/s speed=N/A",
    "frame=   13 fps=0.0 q=1.6 size=     139kB time=00:00:00.52 bitrate=2189.3kbits/s speed=1.03x",
    "frame=   26 fps= 26 q=2.0 size=     256kB time=00:00:01.04 bitrate=2016.5kbits/s speed=1.03x",
    "frame=   51 fps= 25 q=2.0 size=     512kB time=00:00:02.04 bitrate=2056.0kbits/s speed=1.01x",
    "frame=   65 fps= 25 q=2.0 Lsize=     661kB time=00:00:02.60 bitrate=2083.2kbits/s speed=   1x",
    "\nvideo:654kB audio:0kB subtitle:0kB other streams:0kB muxing overhead: 1.097670%\n"};

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    // A task trimmed to 20..120 s at 25 frames/s: what one chunk gives, and what its Progress
    // cell then shows (nothing until both a size and a time arrived).
    void statusLines_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<char>("previous"); // the last byte of the chunk before
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const QByteArray &chunk, const char *figures,
                            const char *shown = "", char previous = '\n') {
            QTest::newRow(name) << chunk << previous << QString(figures) << QString(shown);
        };
        row("ffmpeg 5.1 line, size in kB", aviLines[4] + '\r', "51 512 2.04",
            "00:00:02  0.50MB  25.00Frames/s  %2 ");
        row("ffmpeg 5.1 last line, Lsize, then its summary", aviLines[5] + aviLines[6],
            "65 661 2.6", "00:00:02  0.65MB  25.00Frames/s  %3 ");
        row("newer ffmpeg: size in KiB",
            "frame=  750 fps=250 q=2.0 size=   10240KiB time=00:00:30.00 bitrate=2796.2kbits/s",
            "750 10240 30", "00:00:30  10.00MB  25.00Frames/s  %30 ");
        row("time in seconds, not a clock", "frame=  123 fps= 25 size=    1234kB time=12.34 bi",
            "123 1234 12.34", "00:00:12  1.21MB  25.00Frames/s  %12 ");
        row("clock past 99 hours",
            "size=  204800kB time=100:00:01.50 bitrate=", "- 204800 360001.5",
            "100:00:01  200.00MB  25.00Frames/s  %100 ");
        row("null output: size N/A shows nothing",
            "frame=   16 fps= 16 q=-0.0 size=N/A time=00:00:01.06 bitrate=N/A", "16 - 1.06");
        row("first line: time N/A",
            "frame=    0 fps=0.0 q=0.0 size=       0kB time=N/A bitrate=", "0 0 -");
        row("negative clock before the first picture", "size=      0kB time=-00:00:00.04 bitr",
            "- 0 -0.04");
        row("GStreamer progress and end of run",
            "progressreport0 (00:00:05): 5 / 10 seconds ( 50.0 %)\rExecution ended after "
            "0:00:01.04\n",
            "- - -");
        row("AtomicParsley progress bar",
            "Started writing to temp file.\r Progress: ==================>  48%|\r", "- - -");
        row("keys inside an input's description", aviLines[0] + "from 'x=size=9:time=1.5'",
            "- - -");
        row("garbage after the keys", "frame=abcdef fps=? size=xxxxxxxxkB time=zz:zz:zz.zz bitr",
            "- - -");
        row("a NUL byte ends the chunk",
            QByteArray("frame=    7 fps=1\0 size=       8kB time=00:00:02.00 ", 50), "7 - -");
        row("frame cut by the chunk's end", "xx frame=  1", "- - -");
        row("size cut by the chunk's end", "frame=    9 size=    12", "9 - -");
        row("clock cut in its seconds", "size=     512kB time=00:01:1", "- 512 -");
        row("clock cut in its fraction", "size=     512kB time=00:00:02.5", "- 512 2.5",
            "00:00:02  0.50MB  25.00Frames/s  %3 ");
        row("key right after the previous chunk's blank", "size=     512kB time=00:00:04.00 b",
            "- 512 4", "00:00:04  0.50MB  25.00Frames/s  %4 ", ' ');
        row("key going on from the previous chunk's word", "size=     512kB time=00:00:04.00 b",
            "- - 4", "", '=');
    }
    void statusLines()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(char, previous);
        const ProgressFields fields = ProgressFields::Read(chunk, previous);
        QTEST(Figures(fields), "figures");
        ConversionTask task = ConversionTask::ForSource("/v/a.avi", 120);
        task.beginSeconds = 20, task.framesPerSecond = 25, task.state = TASK_ENCODING;
        Take(task, fields);
        QTEST(ProgressText(task), "shown");
    }

    // ffmpeg's output cut into chunks of every size: no figure ever comes from a cut number;
    // a time cut in its fraction may lose a digit there, never more.
    void everyChunkSize()
    {
        const QByteArray output = aviLines.join('\r');
        for (int chunkSize = 1; chunkSize <= PassRunner::chunkBytes; ++chunkSize) {
            ConversionTask task;
            for (qsizetype at = 0; at < output.size(); at += chunkSize) {
                Take(task,
                     ProgressFields::Read(output.mid(at, chunkSize), at ? output[at - 1] : '\n'));
                const QByteArray size = QString::asprintf("size=%8dkB", task.sizeKB).toLatin1();
                const QByteArray time = QString::asprintf("time=00:00:%04.1f",
                                                          std::floor(task.encodedSeconds * 10) / 10)
                                            .toLatin1();
                QVERIFY2((task.sizeKB == 0 || output.contains(size)) && output.contains(time),
                         QByteArray::number(chunkSize) + " bytes a chunk: " + size + ' ' + time);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
