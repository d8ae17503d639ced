// SPDX-License-Identifier: GPL-3.0-or-later
// Stop during every pass of every output type, with the real tools: once Stop has returned no
// tool runs any more and the interrupted task has left no file, the tasks after it are not
// touched, and the batch ends with its message rather than a shutdown.
#include "batchfixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace batchtest;

class TestBatchStop : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;
    int folders = 0;

    QString NewOutputFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("out%1").arg(++folders));
        QDir().mkpath(folder);
        return folder;
    }

    // What the batch looked like right after OnStopClicked returned.
    struct AfterStop {
        bool stopped = false;
        int state = -1;
        QList<int> children;
        QStringList files;
    };

    static void StopWhen(Batch &batch, AfterStop &after, const QString &out,
                         std::function<bool()> condition)
    {
        batch.host.onPump = [&batch, &after, out, condition] {
            if (after.stopped || !condition())
                return;
            after.stopped = true;
            after.state = batch.tasks.GetAt(batch.engine.currentTaskIndex).state;
            batch.engine.OnStopClicked();
            after.children = ChildProcesses();
            after.files = FilesIn(out);
        };
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        QVERIFY(MakeProgramFolder(dir.filePath("program")));
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeClip(clip, 2.0, "320x240"));
    }

    void stopInEachPass_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("pass");
        QTest::addColumn<bool>("afterProgress"); // wait until pass 1 reported encoded time
        QTest::addColumn<int>("stateAtStop");
        const struct {
            int type, pass, state;
        } rows[] = {{0, 1, 1}, {0, 2, 2}, {0, 3, 2}, {1, 1, 1}, {1, 2, 2}, {1, 3, 2},
                    {2, 1, 1}, {2, 2, 2}, {2, 3, 2}, {2, 4, 3}, {2, 5, 3}};
        for (const auto &r : rows)
            QTest::addRow("type %d, pass %d", r.type, r.pass)
                << r.type << r.pass << false << r.state;
        for (int type = 0; type < 3; ++type)
            QTest::addRow("type %d, pass 1 with its file half written", type)
                << type << 1 << true << 1;
    }
    void stopInEachPass()
    {
        QFETCH(int, outputType);
        QFETCH(int, pass);
        QFETCH(bool, afterProgress);
        QFETCH(int, stateAtStop);

        const QString out = NewOutputFolder();
        Batch batch(outputType, out);
        batch.host.profileRow = 0;
        batch.host.shutdownTicked = true; // a stopped batch never shuts down
        batch.Add(clip, 2.0);
        batch.Add(clip, 2.0);
        AfterStop after;
        StopWhen(batch, after, out, [&] {
            return batch.engine.currentPass == pass &&
                   (!afterProgress || batch.tasks.GetAt(0).encodedSeconds > 0);
        });
        batch.engine.OnStartClicked();

        QVERIFY(after.stopped);
        QCOMPARE(after.state, stateAtStop);
        QCOMPARE(after.children, QList<int>{});
        QCOMPARE(after.files, QStringList{});
        QCOMPARE(FilesIn(out), QStringList{});
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(batch.host.states.value(0).last(), int(TASK_CANCELED));
        QCOMPARE(batch.tasks.GetAt(0).finished, 0);
        QVERIFY(!batch.host.states.contains(1)); // the next task is not touched
        QCOMPARE(batch.tasks.GetAt(1).state, int(TASK_IDLE));
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
        QCOMPARE(batch.engine.converting, 0);
        if (pass == 1) { // asked to quit, and it did: no kill was needed
            const RunResult encoder = batch.engine.EncoderState();
            QVERIFY(encoder.quitRequested);
            QVERIFY(encoder.finished);
            QVERIFY(!encoder.crashed);
        }
    }

    // Stop in the second task: the first task's finished file stays.
    void stopKeepsEarlierOutputs()
    {
        const QString out = NewOutputFolder();
        Batch batch(2, out);
        batch.host.profileRow = 0;
        batch.Add(clip, 1.0);
        batch.Add(clip, 2.0);
        AfterStop after;
        StopWhen(batch, after, out, [&] {
            return batch.engine.currentTaskIndex == 1 && batch.engine.currentPass == 2;
        });
        batch.engine.OnStartClicked();
        QCOMPARE(FilesIn(out), QStringList{"clip.3g2"});
        QCOMPARE(batch.tasks.GetAt(0).finished, 1);
        QCOMPARE(batch.host.states.value(1).last(), int(TASK_CANCELED));
    }

    // A first pass that does not take "q" is killed after a grace time; Stop used again
    // meanwhile (a second click, or closing the window) changes nothing.
    void firstPassIgnoringQuitIsKilled()
    {
        const QString profile = QStringLiteral("[Info]\nDescription=stubborn\nDefaultProfile=1\n"
                                               "[Stubborn]\nTitle=ignores q\n"
                                               "Pass1=" KESTRANI_TEST_BIN_DIR
                                               "/fake_encoder --ignore-q --wait-q --interval 20\n"
                                               "Pass2=true\nPass3=true\n");
        QTemporaryDir program;
        QVERIFY(MakeProgramFolder(program.path(), {{"3GP_AMR_Profile.ini", profile}}));
        const QString out = NewOutputFolder();
        Batch batch(0, out);
        batch.Add(clip, 2.0);
        QElapsedTimer clock;
        qint64 stopMs = -1;
        int nestedStops = 0;
        batch.host.onPump = [&] {
            if (stopMs >= 0 || batch.tasks.GetAt(0).encodedSeconds <= 0)
                return;
            // A handler that runs inside Stop's wait and stops again.
            const auto again = [&] {
                ++nestedStops;
                batch.engine.OnStopClicked();
            };
            QTimer::singleShot(200, again);
            clock.start();
            batch.engine.OnStopClicked();
            stopMs = clock.elapsed();
            QCOMPARE(ChildProcesses(), QList<int>{});
        };
        batch.engine.OnStartClicked();
        QVERIFY2(stopMs >= 2500 && stopMs < 10000, qPrintable(QString::number(stopMs)));
        QCOMPARE(nestedStops, 1);
        QVERIFY(batch.engine.EncoderState().crashed); // killed
        QCOMPARE(batch.host.states.value(0).last(), int(TASK_CANCELED));
        programFolder = WithTrailingSeparator(dir.filePath("program"));
    }

    // Stop outside a batch, or with nothing running, does nothing.
    void stopOutsideABatchDoesNothing()
    {
        const QString out = NewOutputFolder();
        QFile own(out + "/clip_temp.3gp");
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.close();
        Batch batch(0, out);
        batch.Add(clip, 2.0);
        ConversionTask task = batch.tasks.GetAt(0);
        task.state = TASK_ENCODING;
        batch.tasks.SetAt(0, task);
        batch.engine.OnStopClicked();
        QVERIFY(!batch.engine.cancelRequested);
        QCOMPARE(FilesIn(out), QStringList{"clip_temp.3gp"});
    }
};

QTEST_GUILESS_MAIN(TestBatchStop)
#include "tst_batchstop.moc"
