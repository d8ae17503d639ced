// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionengine.h"
#include "progressfields.h"
#include "recordinghost.h"
#include "tasklist.h"

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
    void fields_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<OptDouble>("frames");
        QTest::addColumn<OptInt>("size");
        QTest::addColumn<OptDouble>("seconds");
        const OptDouble none;
        QTest::newRow("seconds form")
            << QByteArray("frame=  123 fps= 25 size=    1234kB time=12.34 bitrate= 1.0kbits/s")
            << OptDouble(123) << OptInt(1234) << OptDouble(12.34);
        QTest::newRow("clock form time")
            << QByteArray("frame=  281 fps=139 q=5.1 size=     512kB time=00:01:15.20 bitrate=")
            << OptDouble(281) << OptInt(512) << OptDouble(75.2);
        QTest::newRow("clock with hours past 99")
            << QByteArray("time=100:00:01.50 bitrate=") << none << OptInt() << OptDouble(360001.5);
        QTest::newRow("negative clock at the start")
            << QByteArray("time=-00:00:00.04 bitrate=") << none << OptInt() << OptDouble(-0.04);
        QTest::newRow("size in KiB")
            << QByteArray("frame=   50 fps= 25 q=2.0 size=    1024KiB time=00:00:02.00 bitrate=")
            << OptDouble(50) << OptInt(1024) << OptDouble(2.0);
        QTest::newRow("size N/A keeps the other figures")
            << QByteArray("frame=   16 fps= 16 q=-0.0 size=N/A time=00:00:01.06 bitrate=N/A")
            << OptDouble(16) << OptInt() << OptDouble(1.06);
        QTest::newRow("time N/A") << QByteArray("frame=    0 fps=0.0 size=       0kB time=N/A b")
                                  << OptDouble(0) << OptInt(0) << none;
        QTest::newRow("frame too close to the end")
            << QByteArray("xx frame=  1") << none << OptInt() << none;
        QTest::newRow("size too close to the end")
            << QByteArray("size=    123") << none << OptInt() << none;
        QTest::newRow("time too close to the end")
            << QByteArray("time=1.2") << none << OptInt() << none;
        QTest::newRow("clock cut by the chunk end is not read")
            << QByteArray("time=00:01:1") << none << OptInt() << none;
        QTest::newRow("seconds cut to their five-character window")
            << QByteArray("time=123.456 bitrate") << none << OptInt() << OptDouble(123.4);
        QTest::newRow("size cut to its eight-character window")
            << QByteArray("size=123456789kB time") << none << OptInt(12345678) << none;
        QTest::newRow("last line's Lsize")
            << QByteArray("frame=   65 fps= 25 q=2.0 Lsize=     661kB time=00:00:02.60 bitrate")
            << OptDouble(65) << OptInt(661) << OptDouble(2.6);
        QTest::newRow("only the first occurrence counts")
            << QByteArray("frame=    1 size=       4kB time=00:00:01.00 \r"
                          "frame=    2 size=       8kB time=00:00:02.00 \r")
            << OptDouble(1) << OptInt(4) << OptDouble(1.0);
        QTest::newRow("a NUL byte ends the chunk")
            << QByteArray("frame=    7 fps=1\0 size=       8kB time=00:00:02.00 ", 50)
            << OptDouble(7) << OptInt() << none;
        QTest::newRow("keys inside an input's description are no fields")
            << QByteArray("Input #0, lavfi, from 'testsrc2=size=352x288:frame=123456:time=1.5'")
            << none << OptInt() << none;
        QTest::newRow("no status at all")
            << QByteArray("Input #0, lavfi, from 'testsrc2':\n") << none << OptInt() << none;
    }
    void fields()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(OptDouble, frames);
        QFETCH(OptInt, size);
        QFETCH(OptDouble, seconds);
        const ProgressFields f = ProgressFields::Read(chunk);
        QCOMPARE(f.frames.has_value(), frames.has_value());
        if (frames)
            QCOMPARE(*f.frames, *frames);
        QCOMPARE(f.sizeKB, size);
        QCOMPARE(f.encodedSeconds.has_value(), seconds.has_value());
        if (seconds)
            QVERIFY(qAbs(*f.encodedSeconds - *seconds) < 1e-9);
    }

    void parseUpdatesTheCurrentTaskAndRepaintsItsCell()
    {
        RecordingHost host;
        TaskList tasks;
        tasks.Append(ConversionTask::ForSource("/a.avi", 10));
        tasks.Append(ConversionTask::ForSource("/b.avi", 10));
        ConversionEngine engine(host, tasks);
        engine.currentTaskIndex = 1;
        engine.taskStartTick = ConversionEngine::TickCount() - 2000u;
        engine.ParseProgress("frame=  100 fps= 50 q=5.0 size=    2048kB time=00:00:04.00 b");
        const ConversionTask t = tasks.GetAt(1);
        QVERIFY2(t.framesPerSecond > 49 && t.framesPerSecond <= 50.0,
                 qPrintable(QString::number(t.framesPerSecond)));
        QCOMPARE(t.sizeKB, 2048);
        QCOMPARE(t.encodedSeconds, 4.0);
        QCOMPARE(tasks.GetAt(0).sizeKB, 0);
        QCOMPARE(host.invalidations.size(), 1);
        QCOMPARE(host.invalidations[0].firstRow, 1);
        QCOMPARE(host.invalidations[0].lastRow, 1);
        QCOMPARE(host.invalidations[0].column, 4);
        QCOMPARE(host.invalidations[0].erase, false);

        // A chunk without figures keeps them all.
        engine.ParseProgress("[mp4 @ 0x55] warning: something\n");
        QCOMPARE(tasks.GetAt(1).sizeKB, 2048);
        QCOMPARE(tasks.GetAt(1).encodedSeconds, 4.0);
        QCOMPARE(tasks.GetAt(1).framesPerSecond, t.framesPerSecond);

        engine.currentTaskIndex = 9; // no such task: nothing happens
        engine.ParseProgress("frame=  100 fps= 50 q=5.0 size=    2048kB time=00:00:04.00 b");
        QCOMPARE(host.invalidations.size(), 2);
    }

    void rateAcrossATickWrap()
    {
        RecordingHost host;
        TaskList tasks;
        tasks.Append(ConversionTask::ForSource("/a.avi", 10));
        ConversionEngine engine(host, tasks);
        // 1000 ms ago on a counter that has wrapped in between.
        const quint32 now = ConversionEngine::TickCount();
        engine.taskStartTick = now - 1000u;
        engine.ParseProgress("frame=   30 fps= 30 q=5.0 size=       1kB time=1.00 b");
        QVERIFY(tasks.GetAt(0).framesPerSecond > 29 && tasks.GetAt(0).framesPerSecond <= 30);
    }

    void rateInTheStartMillisecondKeepsThePreviousOne()
    {
        RecordingHost host;
        TaskList tasks;
        ConversionTask task = ConversionTask::ForSource("/a.avi", 10);
        task.framesPerSecond = 7.5;
        tasks.Append(task);
        ConversionEngine engine(host, tasks);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const quint32 before = ConversionEngine::TickCount();
            engine.taskStartTick = before;
            engine.ParseProgress("frame=   30 fps= 30 q=5.0 size=      10kB time=1.00 b");
            if (ConversionEngine::TickCount() == before) {
                QCOMPARE(tasks.GetAt(0).framesPerSecond, 7.5);
                QCOMPARE(tasks.GetAt(0).sizeKB, 10);
                return;
            }
        }
        QSKIP("the clock moved during every attempt");
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
            RecordingHost host;
            TaskList tasks;
            tasks.Append(ConversionTask::ForSource("/a.avi", 10));
            ConversionEngine engine(host, tasks);
            for (qsizetype at = 0; at < capture.size(); at += chunkSize) {
                engine.ParseProgress(QByteArrayView(capture).sliced(
                    at, qMin<qsizetype>(chunkSize, capture.size() - at)));
                const ConversionTask t = tasks.GetAt(0);
                QVERIFY2(
                    t.encodedSeconds == 0 || IsCutOf(t.encodedSeconds, times),
                    qPrintable(QString("chunk %1: time %2").arg(chunkSize).arg(t.encodedSeconds)));
                QVERIFY2(t.sizeKB == 0 || sizes.contains(t.sizeKB),
                         qPrintable(QString("chunk %1: size %2").arg(chunkSize).arg(t.sizeKB)));
            }
            if (chunkSize == 255) {
                QVERIFY(tasks.GetAt(0).encodedSeconds >= lastTimeAtLeast);
                QVERIFY(tasks.GetAt(0).sizeKB >= lastSizeAtLeast);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
