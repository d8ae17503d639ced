// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversiontask.h"
#include "progressfields.h"
#include "progresstext.h"

#include <QFile>
#include <QTest>

#include <optional>

using OptDouble = std::optional<double>;
using OptInt = std::optional<qint32>;
Q_DECLARE_METATYPE(OptDouble)
Q_DECLARE_METATYPE(OptInt)

namespace {

QByteArray Capture(const char *name)
{
    QFile f(QStringLiteral(KESTRANI_SOURCE_DIR "/tests/engine/data/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every value a figure takes in the status lines of a capture.
QList<double> FiguresAfter(const QByteArray &capture, const QByteArray &key)
{
    QList<double> values;
    QByteArray lines = capture;
    for (const QByteArray &line : lines.replace('\n', '\r').split('\r')) {
        if (!line.startsWith("frame="))
            continue;
        const ProgressFields f = ProgressFields::Read(line);
        if (key == "time=" && f.encodedSeconds)
            values.append(*f.encodedSeconds);
        if (key == "size=" && f.sizeKB)
            values.append(*f.sizeKB);
    }
    return values;
}

// A chunk's figures taken into a running task as the first pass takes them: only the
// figures the chunk held change.
void Take(ConversionTask &task, const ProgressFields &fields)
{
    if (fields.sizeKB)
        task.sizeKB = *fields.sizeKB;
    if (fields.encodedSeconds)
        task.encodedSeconds = *fields.encodedSeconds;
}

// A time cut by a chunk boundary may lose trailing fraction digits, never more.
bool IsCutOf(double value, const QList<double> &truth)
{
    for (double t : truth) {
        if (t - value >= -1e-9 && t - value < 0.1)
            return true;
    }
    return false;
}

} // namespace

// Status-line parsing, on hand-made lines and on real ffmpeg 5.1 captures.
class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    // What a chunk gives, and what the Progress cell of a task 100 s long at 25 frames/s then
    // shows (nothing until both a size and a time arrived).
    void fields_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<OptDouble>("frames");
        QTest::addColumn<OptInt>("size");
        QTest::addColumn<OptDouble>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<char>("previous"); // the last byte of the chunk before
        const OptDouble none;
        const OptInt noSize;
        const auto row = [](const char *name, const QByteArray &chunk, OptDouble frames,
                            OptInt size, OptDouble seconds, const QString &shown = QString(),
                            char previous = '\n') {
            QTest::newRow(name) << chunk << frames << size << seconds << shown << previous;
        };
        row("seconds form", "frame=  123 fps= 25 size=    1234kB time=12.34 bitrate= 1.0kbits/s",
            123.0, 1234, 12.34, "00:00:12  1.21MB  25.00Frames/s  %12 ");
        row("clock form time",
            "frame=  281 fps=139 q=5.1 size=     512kB time=00:01:15.20 bitrate=", 281.0, 512, 75.2,
            "00:01:15  0.50MB  25.00Frames/s  %75 ");
        row("clock with hours past 99", "time=100:00:01.50 bitrate=", none, noSize, 360001.5);
        row("negative clock at the start", "time=-00:00:00.04 bitrate=", none, noSize, -0.04);
        row("size in KiB shown in MB",
            "frame=   50 fps= 25 q=2.0 size=    1024KiB time=00:00:02.00 bitrate=", 50.0, 1024, 2.0,
            "00:00:02  1.00MB  25.00Frames/s  %2 ");
        row("size N/A keeps the other figures",
            "frame=   16 fps= 16 q=-0.0 size=N/A time=00:00:01.06 bitrate=N/A", 16.0, noSize, 1.06);
        row("time N/A", "frame=    0 fps=0.0 size=       0kB time=N/A b", 0.0, 0, none);
        row("frame too close to the end", "xx frame=  1", none, noSize, none);
        row("size too close to the end", "size=    123", none, noSize, none);
        row("time too close to the end", "time=1.2", none, noSize, none);
        row("clock cut by the chunk end is not read", "time=00:01:1", none, noSize, none);
        row("seconds cut to their five-character window", "time=123.456 bitrate", none, noSize,
            123.4);
        row("size cut to its eight-character window", "size=123456789kB time", none, 12345678,
            none);
        row("last line's Lsize",
            "frame=   65 fps= 25 q=2.0 Lsize=     661kB time=00:00:02.60 bitrate", 65.0, 661, 2.6,
            "00:00:02  0.65MB  25.00Frames/s  %3 ");
        row("only the first occurrence counts",
            "frame=    1 size=       4kB time=00:00:01.00 \r"
            "frame=    2 size=       8kB time=00:00:02.00 \r",
            1.0, 4, 1.0, "00:00:01  0.00MB  25.00Frames/s  %1 ");
        row("a NUL byte ends the chunk",
            QByteArray("frame=    7 fps=1\0 size=       8kB time=00:00:02.00 ", 50), 7.0, noSize,
            none);
        row("keys inside an input's description are no fields",
            "Input #0, lavfi, from 'testsrc2=size=352x288:frame=123456:time=1.5'", none, noSize,
            none);
        row("no status at all", "Input #0, lavfi, from 'testsrc2':\n", none, noSize, none);
        row("key right after the previous chunk's blank",
            "size=     512kB time=00:00:04.00 bitrate=", none, 512, 4.0,
            "00:00:04  0.50MB  25.00Frames/s  %4 ", ' ');
        row("key going on from the previous chunk's word is none",
            "size=     512kB time=00:00:04.00 bitrate=", none, noSize, 4.0, QString(), '=');
    }
    void fields()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(OptDouble, frames);
        QFETCH(OptInt, size);
        QFETCH(OptDouble, seconds);
        QFETCH(char, previous);
        const ProgressFields f = ProgressFields::Read(chunk, previous);
        QCOMPARE(f.frames.has_value(), frames.has_value());
        if (frames)
            QCOMPARE(*f.frames, *frames);
        QCOMPARE(f.sizeKB, size);
        QCOMPARE(f.encodedSeconds.has_value(), seconds.has_value());
        if (seconds)
            QVERIFY(qAbs(*f.encodedSeconds - *seconds) < 1e-9);

        ConversionTask task = ConversionTask::ForSource("/a.avi", 100);
        task.state = TASK_ENCODING;
        task.framesPerSecond = 25;
        Take(task, f);
        QTEST(ProgressText(task), "shown");
    }

    // Real captures cut at every chunk size: no figure ever comes from a cut number.
    void captureAtEveryChunkSize_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<double>("lastTimeAtLeast");
        QTest::addColumn<int>("lastSizeAtLeast");
        QTest::newRow("avi with growing size") << Capture("ffmpeg51_avi_status.txt") << 2.0 << 512;
        QTest::newRow("3gp, size in 256 kB steps")
            << Capture("ffmpeg51_3gp_status.txt") << 1.4 << 0;
        QTest::newRow("null output, size N/A") << Capture("ffmpeg51_null_status.txt") << 1.0 << 0;
    }
    void captureAtEveryChunkSize()
    {
        QFETCH(QByteArray, capture);
        QFETCH(double, lastTimeAtLeast);
        QFETCH(int, lastSizeAtLeast);
        QVERIFY(!capture.isEmpty());
        const QList<double> times = FiguresAfter(capture, "time=");
        const QList<double> sizes = FiguresAfter(capture, "size=");
        for (int chunkSize = 1; chunkSize <= 255; ++chunkSize) {
            ConversionTask t = ConversionTask::ForSource("/a.avi", 10);
            char previous = '\n';
            for (qsizetype at = 0; at < capture.size(); at += chunkSize) {
                const QByteArrayView chunk = QByteArrayView(capture).sliced(
                    at, qMin<qsizetype>(chunkSize, capture.size() - at));
                Take(t, ProgressFields::Read(chunk, previous));
                previous = chunk.back();
                QVERIFY2(
                    t.encodedSeconds == 0 || IsCutOf(t.encodedSeconds, times),
                    qPrintable(QString("chunk %1: time %2").arg(chunkSize).arg(t.encodedSeconds)));
                QVERIFY2(t.sizeKB == 0 || sizes.contains(t.sizeKB),
                         qPrintable(QString("chunk %1: size %2").arg(chunkSize).arg(t.sizeKB)));
            }
            if (chunkSize == 255) {
                QVERIFY(t.encodedSeconds >= lastTimeAtLeast);
                QVERIFY(t.sizeKB >= lastSizeAtLeast);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
