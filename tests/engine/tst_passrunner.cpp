// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorlog.h"
#include "passrunner.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(PassRunner::Mode)

namespace {

const QString fakeEncoder = QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_encoder");

// Everything one run reported, in the order it came.
struct Run {
    QList<QByteArray> chunks;
    QList<qint64> pids;
    RunResult result;
    int ends = 0;
    qint64 milliseconds = 0;
};

// Waits for the single ended of a runner that has been started, collecting what it reports.
class Watch
{
public:
    explicit Watch(PassRunner &runner)
    {
        QObject::connect(&runner, &PassRunner::output, &scope,
                         [this](const QByteArray &chunk) { run.chunks.append(chunk); });
        QObject::connect(&runner, &PassRunner::started, &scope,
                         [this](qint64 pid) { run.pids.append(pid); });
        QObject::connect(&runner, &PassRunner::ended, &scope, [this](const RunResult &r) {
            run.result = r;
            ++run.ends;
            run.milliseconds = clock.elapsed();
        });
        clock.start();
    }
    bool WaitForEnd(int ms = 30000)
    {
        return QTest::qWaitFor([this] { return run.ends > 0; }, ms);
    }
    QByteArray Output() const { return run.chunks.join(); }

    Run run;
    QElapsedTimer clock;

private:
    QObject scope;
};

} // namespace

// One tool run against real processes: the stand-in encoder, ffmpeg and tools that are missing.
class TestPassRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // The first pass's console output arrives whole, in order, in chunks of at most 255 bytes;
    // a later pass keeps its output to itself.
    void outputArrivesInOrderInSmallChunks()
    {
        const QStringList options{"--frames", "200", "--interval", "0"};
        QProcess direct;
        direct.setProcessChannelMode(QProcess::MergedChannels);
        direct.start(fakeEncoder, options);
        QVERIFY(direct.waitForFinished(30000));
        const QByteArray expected = direct.readAll();
        QVERIFY(expected.size() > 10 * PassRunner::chunkBytes);

        PassRunner piped(PassRunner::Mode::Piped);
        Watch watch(piped);
        piped.Start(QStringList{fakeEncoder} + options);
        QVERIFY(watch.WaitForEnd());
        QVERIFY(watch.run.result.Succeeded());
        QCOMPARE(watch.Output(), expected);
        for (const QByteArray &chunk : watch.run.chunks)
            QVERIFY(chunk.size() >= 1 && chunk.size() <= PassRunner::chunkBytes);

        PassRunner quiet(PassRunner::Mode::Quiet);
        Watch silent(quiet);
        quiet.Start(QStringList{fakeEncoder} + options);
        QVERIFY(silent.WaitForEnd());
        QVERIFY(silent.run.result.Succeeded());
        QVERIFY(silent.run.chunks.isEmpty());
    }

    // How a tool that ran comes out, whichever pass it was, with its last lines for the log.
    void toolEnds_data()
    {
        QTest::addColumn<PassRunner::Mode>("mode");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("crashed");
        for (const auto mode : {PassRunner::Mode::Piped, PassRunner::Mode::Quiet}) {
            const char *pass = mode == PassRunner::Mode::Piped ? "first pass" : "later pass";
            QTest::addRow("%s succeeds", pass) << mode << QStringList{} << 0 << false;
            QTest::addRow("%s reports a failure", pass)
                << mode << QStringList{"--exit", "3"} << 3 << false;
            QTest::addRow("%s crashes", pass) << mode << QStringList{"--crash"} << -1 << true;
        }
    }
    void toolEnds()
    {
        QFETCH(PassRunner::Mode, mode);
        QFETCH(QStringList, options);
        PassRunner runner(mode);
        Watch watch(runner);
        runner.Start(QStringList{fakeEncoder, "--frames", "30", "--interval", "1"} + options);
        QVERIFY(watch.WaitForEnd());
        const RunResult &r = watch.run.result;
        QVERIFY(r.started && r.finished);
        QVERIFY(!r.cancelled && !r.stalled && !r.quitRequested);
        QVERIFY(watch.run.chunks.isEmpty() == (mode == PassRunner::Mode::Quiet));
        QTEST(r.exitCode, "exitCode");
        QTEST(r.crashed, "crashed");
        QCOMPARE(r.Succeeded(), r.exitCode == 0 && !r.crashed);
        QCOMPARE(r.program, fakeEncoder);
        QCOMPARE(watch.run.pids.size(), 1);
        // Status lines that rewrite themselves count once: the last is the closing one.
        QCOMPARE(r.lastLines.value(0), QString("fake encoder: started"));
        QVERIFY2(r.lastLines.last().startsWith("frame=   30") &&
                     r.lastLines.last().contains("Lsize="),
                 qPrintable(r.lastLines.join('\n')));
        QCOMPARE(watch.run.ends, 1);
        QVERIFY(!runner.IsRunning());
    }

    // Stop: a first pass gets "q" and the time to close its file, and is killed only when it
    // ignores it; a later pass has nothing worth finishing and is killed at once.
    void stop_data()
    {
        QTest::addColumn<PassRunner::Mode>("mode");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("killed");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        const int grace = PassRunner::quitGraceMs;
        QTest::newRow("first pass ends on q")
            << PassRunner::Mode::Piped << QStringList{"--after-q", "3"} << false << 0 << grace / 2;
        QTest::newRow("first pass ignoring q is killed after the grace")
            << PassRunner::Mode::Piped << QStringList{"--ignore-q"} << true << grace * 9 / 10
            << grace + 5000;
        QTest::newRow("later pass is killed at once")
            << PassRunner::Mode::Quiet << QStringList{} << true << 0 << grace / 2;
    }
    void stop()
    {
        QFETCH(PassRunner::Mode, mode);
        QFETCH(QStringList, options);
        QFETCH(bool, killed);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        PassRunner runner(mode);
        Watch watch(runner);
        runner.Start(QStringList{fakeEncoder, "--frames", "100000", "--interval", "10"} + options);
        QTest::qWait(300);
        QVERIFY(runner.IsRunning());
        QElapsedTimer clock;
        clock.start();
        runner.RequestStop();
        runner.RequestStop(); // a second Stop changes nothing
        QVERIFY(watch.WaitForEnd(20000));
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms >= minMs && ms < maxMs, qPrintable(QString::number(ms)));
        const RunResult &r = watch.run.result;
        QVERIFY(r.cancelled && r.finished && !r.Succeeded());
        QCOMPARE(r.quitRequested, mode == PassRunner::Mode::Piped);
        QCOMPARE(r.crashed, killed);
        if (!killed) {
            // After "q" the tool still wrote its closing lines, and they all arrived.
            QCOMPARE(r.exitCode, 0);
            QVERIFY(r.lastLines.contains("[q] command received. Exiting."));
            QVERIFY(watch.Output().contains("[q] command received"));
            QVERIFY(r.lastLines.last().contains("Lsize="));
        }
    }

    // ffmpeg itself, stopped by "q": the file it was writing is finished and readable.
    void ffmpegFinishesItsFileOnQ()
    {
        const QString out = dir.filePath("stopped.3gp");
        PassRunner runner(PassRunner::Mode::Piped);
        Watch watch(runner);
        runner.Start({PassRunner::ResolveProgram("ffmpeg", QString()), "-y", "-re", "-f", "lavfi",
                      "-i", "testsrc2=size=176x144:rate=15", "-t", "60", "-c:v", "h263", "-an",
                      "-f", "3gp", out});
        QVERIFY(QTest::qWaitFor([&] { return watch.Output().contains("time=00:00:01"); }, 20000));
        runner.RequestStop();
        QVERIFY(watch.WaitForEnd());
        QVERIFY(!watch.run.result.crashed);
        QCOMPARE(watch.run.result.exitCode, 0);
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                "default=nw=1:nk=1", out});
        QVERIFY(probe.waitForFinished(30000));
        const double duration = probe.readAllStandardOutput().trimmed().toDouble();
        QVERIFY2(duration > 0.9 && duration < 10, qPrintable(QString::number(duration)));
    }

    // A tool that cannot start ends all the same, from the event loop, never inside Start.
    void toolThatCannotStart_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no such file") << QStringList{dir.filePath("nope/tool"), "-i", "x"};
        QTest::newRow("not executable") << QStringList{QString(KESTRANI_SOURCE_DIR "/README.md")};
        QTest::newRow("a folder") << QStringList{dir.path()};
        QTest::newRow("no program at all") << QStringList{};
    }
    void toolThatCannotStart()
    {
        QFETCH(QStringList, arguments);
        for (const auto mode : {PassRunner::Mode::Piped, PassRunner::Mode::Quiet}) {
            PassRunner runner(mode);
            Watch watch(runner);
            runner.Start(arguments);
            QCOMPARE(watch.run.ends, 0);
            QVERIFY(watch.WaitForEnd());
            QTest::qWait(50);
            QCOMPARE(watch.run.ends, 1);
            const RunResult &r = watch.run.result;
            QVERIFY(!r.started && !r.finished && !r.Succeeded());
            QVERIFY(!r.errorText.isEmpty());
            QVERIFY(!runner.IsRunning());
            runner.RequestStop(); // nothing to stop
            runner.Kill();
            QTest::qWait(50);
            QCOMPARE(watch.run.ends, 1);
        }
    }

    // A tool runs in the folder it is given, whatever folder the program runs in.
    void toolRunsInItsWorkingFolder()
    {
        const QString folder = dir.filePath("work");
        QVERIFY(QDir().mkpath(folder));
        PassRunner runner(PassRunner::Mode::Quiet);
        Watch watch(runner);
        runner.SetWorkingDirectory(folder);
        runner.Start({fakeEncoder, "--frames", "1", "--write", "written-here"});
        QVERIFY(watch.WaitForEnd());
        QVERIFY(watch.run.result.Succeeded());
        QVERIFY(QFile::exists(folder + "/written-here"));
        QVERIFY(!QFile::exists("written-here"));
    }

    // Why a tool did not start goes to the log, or to the per-user log where the program's own
    // cannot be written; entries are appended, never replacing what is there.
    void startFailureIsLogged_data()
    {
        QTest::addColumn<bool>("mainWritable");
        QTest::newRow("program's log") << true;
        QTest::newRow("program's log cannot be written: the per-user log") << false;
    }
    void startFailureIsLogged()
    {
        QFETCH(bool, mainWritable);
        QTemporaryDir logs;
        const QString main = logs.filePath("app/log.txt");
        const QString fallback = logs.filePath("user/data/log.txt");
        QVERIFY(QDir().mkpath(mainWritable ? logs.filePath("app") : main)); // a folder in its way
        PassRunner runner(PassRunner::Mode::Piped);
        Watch watch(runner);
        runner.Start({dir.filePath("nope/tool")});
        QVERIFY(watch.WaitForEnd());
        const ErrorLog log(main, fallback);
        log.Append("earlier\n");
        log.LogApiError("CreateProcess", 2, watch.run.result.errorText);
        QCOMPARE(log.Path(), mainWritable ? main : fallback);
        QFile file(log.Path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 "earlier\nERROR:   API         =   CreateProcess.\n"
                 "       error   code   =   2.\n"
                 "       message         =   " +
                     watch.run.result.errorText + ".\n");
    }

    // The stall limit ends a tool that shows no sign of work; output or a growing file is one.
    void stallLimit_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("stalled");
        QTest::newRow("silent tool writing nothing is ended") << QStringList{"--silent"} << true;
        QTest::newRow("silent tool whose file grows runs on")
            << QStringList{"--silent", "--write", "growing"} << false;
        QTest::newRow("tool that prints runs on") << QStringList{} << false;
    }
    void stallLimit()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, stalled);
        const QString growing = dir.filePath("growing");
        QFile::remove(growing);
        options.replaceInStrings(QRegularExpression("^growing$"), growing);
        // 2.8 s of work: past the 1 s limit, with a sign of life every 0.2 s.
        PassRunner runner(PassRunner::Mode::Piped);
        Watch watch(runner);
        runner.SetStallLimit(1, [&] { return QFileInfo(growing).size(); });
        runner.Start(QStringList{fakeEncoder, "--frames", "14", "--interval", "200"} + options);
        QVERIFY(watch.WaitForEnd());
        const RunResult &r = watch.run.result;
        QCOMPARE(r.stalled, stalled);
        QCOMPARE(r.Succeeded(), !stalled);
        if (stalled)
            QVERIFY2(watch.run.milliseconds < 2500,
                     qPrintable(QString::number(watch.run.milliseconds)));
    }

    // Whatever ends a tool, the processes it started go with it.
    void endingKillsTheWholeGroup_data()
    {
        QTest::addColumn<PassRunner::Mode>("mode");
        QTest::addColumn<QString>("how");
        QTest::newRow("first pass killed") << PassRunner::Mode::Piped << "kill";
        QTest::newRow("later pass stopped") << PassRunner::Mode::Quiet << "stop";
        QTest::newRow("runner destroyed while its tool runs")
            << PassRunner::Mode::Piped << "destroy";
    }
    void endingKillsTheWholeGroup()
    {
        QFETCH(PassRunner::Mode, mode);
        QFETCH(QString, how);
        QTemporaryDir marked; // named on the tool's command line, and so on its child's
        QVERIFY(marked.isValid());
        {
            PassRunner runner(mode);
            Watch watch(runner);
            runner.Start({fakeEncoder, "--spawn", "--frames", "100000", "--write",
                          marked.filePath("grown")});
            QVERIFY(
                QTest::qWaitFor([&] { return ProcessesUsing(marked.path()).size() == 2; }, 10000));
            if (how == "kill")
                runner.Kill();
            else if (how == "stop")
                runner.RequestStop();
            if (how != "destroy") {
                QVERIFY(watch.WaitForEnd());
                QVERIFY(watch.run.result.crashed);
            }
        }
        // The orphaned child is reaped by whoever adopts it: give that a moment.
        QVERIFY2(QTest::qWaitFor([&] { return ProcessesUsing(marked.path()).isEmpty(); }, 3000),
                 qPrintable(ProcessesUsing(marked.path()).join('\n')));
    }

    // A bare name: our own tool in the app folder first, then the absolute folders of PATH;
    // never the folder the program happened to be started in.
    void resolveProgram_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path"); // PATH, folders relative to the test's root
        QTest::addColumn<QString>("expected");
        QTest::newRow("app folder before PATH") << "tool"
                                                << "@/bin"
                                                << "app/tool";
        QTest::newRow("PATH when the app folder has none") << "other"
                                                           << "@/bin"
                                                           << "bin/other";
        QTest::newRow("not executable in the app folder: PATH") << "plain"
                                                                << "@/bin"
                                                                << "bin/plain";
        QTest::newRow("first absolute PATH folder that has it") << "other"
                                                                << "@/none:@/bin2:@/bin"
                                                                << "bin2/other";
        QTest::newRow("dot in PATH is never the current folder") << "here"
                                                                 << ".:@/bin"
                                                                 << "";
        QTest::newRow("relative PATH folder is skipped") << "other"
                                                         << "bin2:cwd"
                                                         << "";
        QTest::newRow("empty PATH entry is skipped") << "here"
                                                     << ":@/bin:"
                                                     << "";
        QTest::newRow("absolute path kept as given") << "@/cwd/here"
                                                     << ""
                                                     << "cwd/here";
        QTest::newRow("relative path refused") << "./here"
                                               << "@/bin"
                                               << "";
        QTest::newRow("missing everywhere") << "nothing"
                                            << "@/bin"
                                            << "";
        QTest::newRow("empty name") << ""
                                    << "@/bin"
                                    << "";
    }
    void resolveProgram()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        // root/cwd is the current folder and root/cwd/bin2 exists there too: relative
        // entries would find tools in it.
        const QString root = dir.filePath("resolve");
        const QString tool = QStringLiteral(KESTRANI_TEST_BIN_DIR "/argdump");
        const auto place = [&](const QString &file) {
            QDir().mkpath(QFileInfo(root + '/' + file).path());
            return QFile::exists(root + '/' + file) || QFile::copy(tool, root + '/' + file);
        };
        for (const char *file : {"app/tool", "bin/tool", "bin/other", "bin/plain", "bin2/other",
                                 "cwd/here", "cwd/other", "cwd/bin2/other"})
            QVERIFY(place(file));
        QFile plain(root + "/app/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QDir().mkpath(root + "/none");

        const QByteArray savedPath = qgetenv("PATH");
        const QString savedCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root + "/cwd"));
        qputenv("PATH", QString(path).replace('@', root).toLocal8Bit());
        const QString resolved =
            PassRunner::ResolveProgram(QString(name).replace('@', root), root + "/app");
        qputenv("PATH", savedPath);
        QDir::setCurrent(savedCurrent);
        QCOMPARE(resolved, expected.isEmpty() ? QString() : root + '/' + expected);
    }
};

QTEST_GUILESS_MAIN(TestPassRunner)
#include "tst_passrunner.moc"
