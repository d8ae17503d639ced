// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversionengine.h"
#include "recordinghost.h"
#include "tasklist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString fakeEncoder = QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_encoder");

QStringList Fake(const QStringList &options)
{
    return QStringList{fakeEncoder} + options;
}

QString ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

// The runners against real processes: our stand-in encoder, real ffmpeg and missing tools.
class TestProcessRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString savedCurrent;
    QString clip;

    // A fresh engine with one task covering the clip's three seconds.
    struct Fixture {
        RecordingHost host;
        TaskList tasks;
        ConversionEngine engine{host, tasks};
        Fixture()
        {
            tasks.Append(ConversionTask::ForSource("/v/clip.mp4", 3.0));
            ConversionTask t = tasks.GetAt(0);
            t.state = TASK_ENCODING;
            tasks.SetAt(0, t);
            engine.taskStartTick = ConversionEngine::TickCount();
        }
        // Stop as the Stop button does it, once the task shows some progress.
        void StopOncePastSeconds(double seconds)
        {
            host.onPump = [this, seconds] {
                if (!engine.cancelRequested && tasks.GetAt(0).encodedSeconds > seconds) {
                    engine.RequestCancel();
                    engine.RequestEncoderQuit();
                }
            };
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        savedCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path())); // log.txt goes here
        clip = dir.filePath("clip.mp4");
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                "testsrc2=size=176x144:rate=15", "-t", "3", clip});
        QVERIFY(ffmpeg.waitForFinished(60000));
        QCOMPARE(ffmpeg.exitCode(), 0);
    }
    void cleanupTestCase() { QDir::setCurrent(savedCurrent); }
    void init() { QFile::remove(dir.filePath("log.txt")); }

    void pipedRunEnds_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<int>("sizeKB");
        QTest::newRow("ends on its own") << QStringList{"--frames", "12"} << 0 << false << 48;
        QTest::newRow("reports a failure") << QStringList{"--exit", "3"} << 3 << false << 40;
        QTest::newRow("crashes") << QStringList{"--crash"} << -1 << true << 40;
        QTest::newRow("time in seconds")
            << QStringList{"--seconds", "--frames", "15"} << 0 << false << 60;
        QTest::newRow("prints nothing") << QStringList{"--silent"} << 0 << false << 0;
    }
    void pipedRunEnds()
    {
        QFETCH(QStringList, options);
        Fixture f;
        const RunResult r =
            f.engine.RunPipedProcess(Fake(options + QStringList{"--interval", "5"}));
        QVERIFY(r.started);
        QVERIFY(r.finished);
        QVERIFY(!r.cancelled);
        QTEST(r.exitCode, "exitCode");
        QTEST(r.crashed, "crashed");
        QTEST(f.tasks.GetAt(0).sizeKB, "sizeKB");
        QCOMPARE(f.host.pumps == 0, f.tasks.GetAt(0).sizeKB == 0); // one pump per chunk
        QCOMPARE(f.host.invalidations.size(), f.host.pumps);
        if (f.tasks.GetAt(0).sizeKB > 0) {
            QCOMPARE(
                f.tasks.GetAt(0).encodedSeconds,
                double(QString::number(f.tasks.GetAt(0).sizeKB / 4 / 15.0, 'f', 2).toDouble()));
            QVERIFY(r.lastLines.contains("fake encoder: started"));
            QVERIFY(r.lastLines.last().contains("Lsize="));
        }
        QVERIFY(!QFile::exists("log.txt")); // an ended pipe is no failure
        f.engine.RequestEncoderQuit();      // the tool is gone: nothing happens
        QVERIFY(!f.engine.IsEncoderRunning());
    }

    // After "q" the tool still writes plenty; it must neither block nor die of a closed pipe.
    void quitDuringTheRunDrainsUntilTheToolEnds()
    {
        Fixture f;
        f.StopOncePastSeconds(0.1);
        const RunResult r = f.engine.RunPipedProcess(
            Fake({"--frames", "100000", "--interval", "10", "--after-q", "3000"}));
        QVERIFY(r.cancelled);
        QVERIFY(r.quitRequested);
        QVERIFY(f.engine.WaitForEncoderEnd(20000));
        const RunResult end = f.engine.EncoderState();
        QVERIFY(end.finished);
        QVERIFY(!end.crashed);
        QCOMPARE(end.exitCode, 0);
        QVERIFY(end.lastLines.contains("[q] command received. Exiting."));
        QVERIFY(end.lastLines.last().contains("Lsize="));
    }

    void toolIgnoringQuitCanBeKilled()
    {
        Fixture f;
        f.StopOncePastSeconds(0.1);
        const RunResult r = f.engine.RunPipedProcess(
            Fake({"--frames", "100000", "--interval", "10", "--ignore-q"}));
        QVERIFY(r.cancelled);
        QVERIFY(!f.engine.WaitForEncoderEnd(300));
        QVERIFY(f.engine.IsEncoderRunning());
        f.engine.KillRunningTools();
        QVERIFY(!f.engine.IsEncoderRunning());
        QVERIFY(f.engine.EncoderState().crashed);
    }

    void eventsAreServedWhileAToolIsSilent_data()
    {
        QTest::addColumn<bool>("piped");
        QTest::newRow("first pass") << true;
        QTest::newRow("later pass") << false;
    }
    void eventsAreServedWhileAToolIsSilent()
    {
        QFETCH(bool, piped);
        Fixture f;
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        const QStringList tool = Fake({"--silent", "--frames", "20", "--interval", "25"});
        const RunResult r =
            piped ? f.engine.RunPipedProcess(tool) : f.engine.RunProcessAndWait(tool);
        QVERIFY(r.Succeeded());
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void cancelKillsALaterPass_data()
    {
        QTest::addColumn<bool>("beforeStart");
        QTest::newRow("cancel while it runs") << false;
        QTest::newRow("cancel already set") << true;
    }
    void cancelKillsALaterPass()
    {
        QFETCH(bool, beforeStart);
        Fixture f;
        f.engine.cancelRequested = beforeStart;
        QObject scope; // the timer must not outlive this test's engine
        QTimer::singleShot(200, &scope, [&] { f.engine.RequestCancel(); });
        QElapsedTimer clock;
        clock.start();
        const RunResult r = f.engine.RunProcessAndWait(Fake({"--frames", "100000"}));
        QVERIFY(r.started);
        QVERIFY(r.cancelled);
        QVERIFY(r.finished);
        QVERIFY(clock.elapsed() < 20000); // not the tool's own 5000 s
    }

    void laterPassKeepsItsLastLines()
    {
        Fixture f;
        const RunResult r = f.engine.RunProcessAndWait(Fake({"--exit", "4", "--interval", "1"}));
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 4);
        QVERIFY(!r.cancelled);
        QCOMPARE(f.tasks.GetAt(0).sizeKB, 0); // later passes are not parsed
        QVERIFY(r.lastLines.contains("fake encoder: started"));
    }

    void missingToolIsLogged_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("code");
        QTest::newRow("not on PATH") << QStringList{"no-such-encoder-kestrani", "-i", "x"} << 2;
        QTest::newRow("no such path") << QStringList{dir.filePath("nope/tool")} << 2;
        QTest::newRow("empty command") << QStringList{} << 2;
        QTest::newRow("not executable") << QStringList{dir.filePath("clip.mp4")} << 13;
    }
    void missingToolIsLogged()
    {
        QFETCH(QStringList, command);
        QFETCH(int, code);
        Fixture f;
        const RunResult first = f.engine.RunPipedProcess(command);
        QVERIFY(!first.started);
        QVERIFY(!first.errorText.isEmpty());
        const QString entry =
            ConversionEngine::FormatLogEntry("CreateProcess", code, first.errorText);
        QVERIFY(entry.startsWith(QString("ERROR:   API         =   CreateProcess.\n"
                                         "       error   code   =   %1.\n"
                                         "       message         =   ")
                                     .arg(code)));
        // The later-pass runner fails quietly; a second pass 1 appends a second entry.
        QVERIFY(!f.engine.RunProcessAndWait(command).started);
        QVERIFY(!f.engine.RunPipedProcess(command).started);
        QCOMPARE(ReadAll("log.txt"), entry + entry);
    }

    void logEntryFormat()
    {
        QCOMPARE(ConversionEngine::FormatLogEntry("ReadFile", 5, "Input/output error"),
                 QString("ERROR:   API         =   ReadFile.\n"
                         "       error   code   =   5.\n"
                         "       message         =   Input/output error.\n"));
    }

    void logFallsBackToTheUserDataFolder()
    {
        // A folder where the log file should be: it cannot be opened for appending.
        QVERIFY(QDir(dir.path()).mkdir("log.txt"));
        const QString fallback =
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/log.txt";
        QFile::remove(fallback);
        ConversionEngine::AppendToLog("one\n");
        ConversionEngine::AppendToLog("two\n");
        QVERIFY(QDir(dir.path()).rmdir("log.txt"));
        QCOMPARE(ReadAll(fallback), QString("one\ntwo\n"));
        QFile::remove(fallback);
    }

    void ffmpegProgressReachesTheTask()
    {
        Fixture f;
        const QString out = dir.filePath("out.3gp");
        const RunResult r = f.engine.RunPipedProcess(
            {"ffmpeg", "-y", "-i", clip, "-c:v", "h263", "-an", "-f", "3gp", out});
        QVERIFY2(r.Succeeded(), qPrintable(QString("%1 %2 %3 %4 %5 ")
                                               .arg(r.started)
                                               .arg(r.finished)
                                               .arg(r.exitCode)
                                               .arg(r.crashed)
                                               .arg(r.cancelled) +
                                           r.errorText + r.lastLines.join("\n")));
        const ConversionTask t = f.tasks.GetAt(0);
        QVERIFY2(qAbs(t.encodedSeconds - 3.0) < 0.1, qPrintable(QString::number(t.encodedSeconds)));
        QVERIFY(t.sizeKB > 0);
        QVERIFY(QFileInfo(out).size() > 0);
    }

    void ffmpegStopsOnQ()
    {
        Fixture f;
        f.StopOncePastSeconds(0.4);
        const QString out = dir.filePath("stopped.3gp");
        const RunResult r = f.engine.RunPipedProcess({"ffmpeg", "-y", "-re", "-f", "lavfi", "-i",
                                                      "testsrc2=size=176x144:rate=15", "-t", "60",
                                                      "-c:v", "h263", "-an", "-f", "3gp", out});
        QVERIFY(r.cancelled);
        QVERIFY(f.engine.WaitForEncoderEnd(10000));
        const RunResult end = f.engine.EncoderState();
        QCOMPARE(end.exitCode, 0);
        QVERIFY(!end.crashed);
        // The file was finished properly: an independent reader finds a short video in it.
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                "default=nw=1:nk=1", out});
        QVERIFY(probe.waitForFinished(30000));
        const double duration = probe.readAllStandardOutput().trimmed().toDouble();
        QVERIFY2(duration > 0.3 && duration < 10, qPrintable(QString::number(duration)));
    }

    void aHandlerCannotStartASecondFirstPass()
    {
        Fixture f;
        RunResult nested;
        f.host.onPump = [&] {
            if (!nested.errorText.isEmpty())
                return;
            nested = f.engine.RunPipedProcess(Fake({}));
        };
        const RunResult r = f.engine.RunPipedProcess(Fake({"--interval", "5"}));
        QVERIFY(r.Succeeded());
        QVERIFY(!nested.started);
        QVERIFY(!nested.errorText.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProcessRunner)
#include "tst_processrunner.moc"
