// SPDX-License-Identifier: GPL-3.0-or-later
// Stop in every pass of every output type, a tool that will not end, and the shutdown after a
// batch. The passes are stand-in tools slow enough to stop in; a finished task and the
// shutdown use the real tools. Shutdown talks to a bus of the test's own, set before any D-Bus
// use, with a stand-in login manager on it: never the machine's.
#include "engine.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTimer>

using namespace support;

class TestStop : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths real, stubborn;
    QString clip, address, qFile = dir.filePath("q-received");
    QProcess bus, logind;
    int folders = 0;

    // A login manager answering CanPowerOff with `answer`; none for an empty one.
    void StartLogind(const QString &answer)
    {
        logind.kill(), logind.waitForFinished();
        QFile::remove(dir.filePath("calls"));
        if (!answer.isEmpty())
            logind.start(KESTRANI_TEST_BIN_DIR "/fake_logind",
                         {address, answer, dir.filePath("calls")});
        QVERIFY(answer.isEmpty() || logind.waitForReadyRead(10000));
    }

    // Runs the batch, calling Stop the first time `ready` holds; false when it never did.
    // The wait ends as soon as `ready`; the limit only leaves room for a loaded machine (three
    // tasks starting side by side under the sanitizers).
    static bool RunAndStopWhen(Batch &batch, const std::function<bool()> &ready, int ms = 90000)
    {
        bool stopped = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &poll, [&] {
            if (!stopped && ready())
                stopped = true, batch.engine.OnStopClicked();
        });
        poll.start(5);
        return batch.Run(ms) && stopped;
    }

private slots:
    void initTestCase()
    {
        address = "unix:path=" + dir.filePath("bus");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        bus.start("dbus-daemon",
                  {"--session", "--nofork", "--print-address", "--address=" + address});
        QVERIFY2(bus.waitForReadyRead(10000), "dbus-daemon is needed");
        // The system bus this process reaches is the daemon just started, or nothing runs.
        QCOMPARE(
            QDBusConnection::systemBus().interface()->servicePid("org.freedesktop.DBus").value(),
            uint(bus.processId()));
        StartLogind("yes"); // a stopped batch must never power off
        clip = SharedClip(Clip{.seconds = 1.0, .sar = {}, .extra = {}});
        real = MakeProgramFolder(dir.filePath("real"));
        stubborn = MakeProgramFolder(
            dir.filePath("stubborn"),
            {{"3GP_AAC_Profile.ini", "[Info]\nDescription=hangs\nDefaultProfile=1\n[P]\nTitle=t\n"
                                     "Pass1=" KESTRANI_TEST_BIN_DIR "/fake_encoder --hang --spawn "
                                     "--tag \"$OUTPUT_DIR\"\nPass2=true\nPass3=true\n"}});
        QVERIFY(!clip.isEmpty() && real.IsValid() && stubborn.IsValid());
    }
    void cleanupTestCase()
    {
        StartLogind({});
        bus.kill(), bus.waitForFinished();
    }

    // A first pass gets "q" and ends; a later one is killed. Every file of the stopped tasks and
    // every scratch file of their tools goes; the user's files, lookalikes of a tool's scratch
    // there before the batch, stay; the task not started is not touched.
    void stopInEveryPass_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("jobs");
        const char *names[] = {"3GP with AMR", "3GP with AAC", "3G2"};
        for (int type = 0; type < OutputType::count; ++type)
            for (int pass = 1; pass <= OutputType::Find(type)->PassCount(); ++pass)
                QTest::addRow("Stop in pass %d of %s", pass, names[type]) << type << pass << 1;
        QTest::newRow("Stop in pass 1 of three tasks side by side") << 1 << 1 << 3;
        QTest::newRow("Stop in pass 4 of two 3G2 tasks side by side") << 2 << 4 << 2;
    }
    void stopInEveryPass()
    {
        QFETCH(int, type);
        QFETCH(int, pass);
        QFETCH(int, jobs);
        const OutputType *t = OutputType::Find(type);
        QString profile = StandInProfile(type, qFile); // the passes before the stopped one quick
        for (int before = 1; before < pass; ++before)
            profile.replace(QStringLiteral("pass%1 --frames 8").arg(before), "quick --frames 1");
        const QString out = NewFolder(dir, folders);
        const EnginePaths paths =
            MakeProgramFolder(out + "-program", {{t->ProfileFile(), profile}});
        const QStringList theirs{"clip (2)-temp-99999" + t->Extension(), "clip" + t->Extension()};
        for (const QString &name : theirs)
            QVERIFY(WriteFile(out + '/' + name, name.toUtf8()));
        QFile::remove(qFile);
        Batch batch(paths, type, out);
        batch.host.shutdownTicked = true;
        batch.engine.SetSimultaneousTasks(jobs);
        for (int i = 0; i <= jobs; ++i)
            batch.Add(clip, 1.0);
        // Each running task in the pass, its file grown and a later pass's scratch made.
        const QString grown =
            out + '/' + t->FileName(t->WrittenBy(pass).value(0, TaskFile::Output), "clip (2)");
        const QString scratch = out + "/clip (2)-temp-54321" + t->Extension();
        QVERIFY(RunAndStopWhen(batch, [&] {
            return StandInPasses() == QList<int>(jobs, pass) && QFileInfo(grown).size() > 0 &&
                   (pass == 1 || QFile::exists(scratch));
        }));

        for (int row = 0; row < jobs; ++row)
            QCOMPARE(batch.State(row), int(TASK_CANCELED));
        QVERIFY(!batch.host.states.contains(jobs));
        QCOMPARE(QFile::exists(qFile), pass == 1);
        QCOMPARE(StandInPasses(), QList<int>{});
        QCOMPARE(FilesIn(out), theirs);
        for (const QString &name : theirs)
            QCOMPARE(Contents(out + '/' + name), name.toUtf8());
        QCOMPARE(Contents(dir.filePath("calls")), QByteArray());  // never powered off
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false})); // Start is back
    }

    // Stop in the second task of real tools: the first task's finished file stays as it was.
    void stopKeepsTheFinishedOutputOfAnEarlierTask()
    {
        const QString out = NewFolder(dir, folders);
        Batch batch(real, 2, out);
        for (int i = 0; i < 3; ++i)
            batch.Add(clip, 1.0);
        QByteArray first;
        batch.host.onProgress = [&](int row) {
            if (row == 1 && batch.State(1) == TASK_EXPORTING && first.isEmpty()) {
                first = Contents(batch.OutputOf(0));
                QTimer::singleShot(0, &batch.engine, &ConversionEngine::OnStopClicked);
            }
        };
        QVERIFY(batch.Run());
        QVERIFY(batch.Finished(0) && !first.isEmpty());
        QCOMPARE(batch.State(1), int(TASK_CANCELED));
        QCOMPARE(FilesIn(out), QStringList{"clip.3g2"});
        QCOMPARE(Contents(out + "/clip.3g2"), first);
    }

    // Stop comes to a first pass that ignores "q": it is killed after the grace time, and the
    // tool it started goes too, and so do the task's files.
    void toolThatIgnoresQ()
    {
        const QString out = NewFolder(dir, folders);
        Batch batch(stubborn, 1, out);
        batch.Add(clip, 1.0);
        QVERIFY(RunAndStopWhen(batch, [&] { return ProcessesUsing(out + '/').size() == 2; }));
        QCOMPARE(batch.State(0), int(TASK_CANCELED));
        QCOMPARE(FilesIn(out), QStringList{});
        QVERIFY(QTest::qWaitFor([&] { return ProcessesUsing(out + '/').isEmpty(); }, 3000));
    }

    // The batch's end powers off only after every task finished, and only where the login
    // manager agrees without a password; elsewhere a warning says why it cannot, and after a
    // failure the closing box counts it.
    void shutdownAfterTheBatch_data()
    {
        QTest::addColumn<QString>("answer"); // "yes:why": agrees, then PowerOff fails with why
        QTest::addColumn<bool>("failing");   // a second task that fails
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<QString>("shown"); // caption and text, up to the end shown
        QTest::newRow("login manager agrees: powered off, nobody asked for a password")
            << "yes" << false << QByteArray("CanPowerOff\nPowerOff false\n") << "";
        QTest::newRow("login manager wants a password: a warning says so")
            << "challenge" << false << QByteArray("CanPowerOff\n")
            << "Warning: The computer cannot be shut down: the login manager would ask for a "
               "password first";
        QTest::newRow("no login manager: a warning with the bus's reason")
            << "" << false << QByteArray()
            << "Warning: The computer cannot be shut down: the login manager cannot be asked (The "
               "name org.freedesktop.login1";
        QTest::newRow("power-off refused after all: a warning with the manager's reason")
            << "yes:Operation inhibited" << false << QByteArray("CanPowerOff\nPowerOff false\n")
            << "Warning: The computer cannot be shut down: Operation inhibited";
        QTest::newRow("a task failed: the machine stays on, the closing box counts it")
            << "yes" << true << QByteArray()
            << "Warning: 1 of 2 videos failed: see the Progress column";
    }
    void shutdownAfterTheBatch()
    {
        QFETCH(QString, answer);
        QFETCH(bool, failing);
        QFETCH(QString, shown);
        StartLogind(answer);
        Batch batch(real, 0, NewFolder(dir, folders));
        batch.host.shutdownTicked = true;
        batch.Add(clip, 1.0);
        if (failing)
            batch.Add(MediaFile("broken.mp4"), 1.0);
        QVERIFY(batch.Run() && batch.Finished(0));
        QTEST(Contents(dir.filePath("calls")), "calls");
        QStringList messages;
        for (const RecordingHost::Message &message : batch.host.messages)
            messages << message.caption + ": " + message.text;
        QCOMPARE(messages.size(), shown.isEmpty() ? 0 : 1);
        QVERIFY2(shown.isEmpty() || messages.value(0).startsWith(shown),
                 qPrintable(messages.value(0)));
    }
};

QTEST_GUILESS_MAIN(TestStop)
#include "tst_stop.moc"
