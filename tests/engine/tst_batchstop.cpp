// SPDX-License-Identifier: GPL-3.0-or-later
// Stop during every pass of every output type: the first pass's tool is asked to quit, a later
// one is killed; every file of the stopped task goes, the tasks after it are not touched, the
// buttons come back and the batch ends with its message rather than a shutdown. The passes are
// stand-ins that run until stopped, plus the real tools in pass 1 with their file half written.
#include "batchfixture.h"

#include <QTimer>

using namespace batchtest;

namespace {

const QString qFileName = QStringLiteral("q-received");

// Calls `act` once, from the event loop, the first time `when` holds.
class StopWhen : public QObject
{
public:
    StopWhen(std::function<bool()> when, std::function<void()> act)
        : when(std::move(when)), act(std::move(act))
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (done || !this->when())
                return;
            done = true;
            this->act();
        });
        timer.start(10);
    }
    bool done = false;

private:
    std::function<bool()> when;
    std::function<void()> act;
    QTimer timer;
};

} // namespace

class TestBatchStop : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;
    EnginePaths real;
    EnginePaths standIn[OutputType::count];
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders); }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        real = MakeProgramFolder(dir.filePath("program"));
        QVERIFY(real.IsValid());
        for (int type = 0; type < OutputType::count; ++type) {
            const QString folder = dir.filePath(QStringLiteral("stand-in%1").arg(type));
            standIn[type] =
                MakeProgramFolder(folder, {{OutputType::Find(type)->ProfileFile(),
                                            StandInProfile(type, folder + "/" + qFileName)}});
            QVERIFY(standIn[type].IsValid());
        }
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeToneClip(clip, 3.0, "320x240"));
    }

    void stopInEachPass_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("pass");
        QTest::addColumn<bool>("realTools");
        const int stateOf[] = {
            0, TASK_ENCODING, TASK_EXPORTING, TASK_EXPORTING, TASK_CHANGING, TASK_CHANGING};
        for (int type = 0; type < OutputType::count; ++type)
            for (int pass = 1; pass <= OutputType::Find(type)->PassCount(); ++pass)
                QTest::addRow("type %d, pass %d (state %d)", type, pass, stateOf[pass])
                    << type << pass << false;
        for (int type = 0; type < OutputType::count; ++type)
            QTest::addRow("type %d, real encoder with its file half written", type)
                << type << 1 << true;
    }
    void stopInEachPass()
    {
        QFETCH(int, outputType);
        QFETCH(int, pass);
        QFETCH(bool, realTools);
        const EnginePaths &paths = realTools ? real : standIn[outputType];
        QFile::remove(paths.programFolder + qFileName);
        const QString out = NewFolder();
        const OutputType *type = OutputType::Find(outputType);
        // Files like a tool's scratch, there before the batch: not the task's to delete.
        const QStringList lookalikes{"clip-temp-99999" + type->Extension(), "clip-temp-notes.txt"};
        for (const QString &name : lookalikes)
            QVERIFY(WriteFile(out + "/" + name, "theirs"));
        Batch batch(paths, outputType, out);
        batch.host.shutdownTicked = true; // a stopped batch never shuts down
        batch.Add(clip, 3.0);
        batch.Add(clip, 3.0);
        // The pass runs and the file it writes (or the output, for a pass that only reads)
        // has grown, so that the Stop has something to delete.
        const QList<TaskFile> written = type->WrittenBy(pass);
        const QString file =
            out + "/" +
            type->FileName(written.isEmpty() ? TaskFile::Output : written.first(), "clip");
        QList<int> statesAtStop;
        StopWhen stop(
            [&] {
                const bool running = realTools ? batch.tasks.GetAt(0).encodedSeconds > 0
                                               : StandInPasses() == QList<int>{pass};
                const QString scratch = out + "/clip-temp-54321" + type->Extension();
                return running && QFileInfo(file).size() > 0 &&
                       (realTools || pass == 1 || QFileInfo::exists(scratch));
            },
            [&] {
                statesAtStop = batch.host.states.value(0);
                batch.engine.OnStopClicked();
            });
        QVERIFY(batch.Run());

        QVERIFY(stop.done);
        const int stateOf[] = {
            0, TASK_ENCODING, TASK_EXPORTING, TASK_EXPORTING, TASK_CHANGING, TASK_CHANGING};
        QCOMPARE(statesAtStop.last(), stateOf[pass]);
        QCOMPARE(batch.host.states.value(0).last(), int(TASK_CANCELED));
        QVERIFY(!batch.Finished(0));
        if (!realTools) // pass 1 was asked to quit; a later pass was killed, never asked
            QCOMPARE(QFileInfo::exists(paths.programFolder + qFileName), pass == 1);
        QCOMPARE(FilesIn(out), lookalikes); // the task's files and its tools' scratch gone
        QCOMPARE(ChildProcesses(), QList<int>{});
        QVERIFY(!batch.host.states.contains(1)); // the next task is not touched
        QCOMPARE(batch.State(1), int(TASK_IDLE));
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
        QCOMPARE(batch.host.settings, (QList<bool>{false, true}));
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
    }

    // Tasks side by side: Stop cancels every running one and deletes all their files; the
    // tasks not started stay as they were, and a task finished before keeps its output.
    void stopWithTasksSideBySide_data()
    {
        QTest::addColumn<int>("simultaneous");
        QTest::newRow("two running") << 2;
        QTest::newRow("three running") << 3;
    }
    void stopWithTasksSideBySide()
    {
        QFETCH(int, simultaneous);
        const QString out = NewFolder();
        Batch batch(standIn[1], 1, out);
        batch.engine.SetSimultaneousTasks(simultaneous);
        for (int i = 0; i < simultaneous + 2; ++i)
            batch.Add(clip, 3.0);
        StopWhen stop(
            [&] {
                return StandInPasses().size() == simultaneous &&
                       FilesIn(out).size() == 2 * simultaneous; // placeholder and temporary
            },
            [&] { batch.engine.OnStopClicked(); });
        QVERIFY(batch.Run());
        QVERIFY(stop.done);
        for (int row = 0; row < simultaneous; ++row)
            QCOMPARE(batch.host.states.value(row), (QList<int>{TASK_ENCODING, TASK_CANCELED}));
        for (int row = simultaneous; row < batch.tasks.Count(); ++row) {
            QVERIFY(!batch.host.states.contains(row));
            QCOMPARE(batch.State(row), int(TASK_IDLE));
        }
        QCOMPARE(FilesIn(out), QStringList{});
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(batch.host.messages.size(), 1);
    }

    // Stop in the second task: the first task's finished file stays.
    void stopKeepsEarlierOutputs()
    {
        const QString out = NewFolder();
        Batch batch(real, 2, out);
        batch.Add(clip, 1.0);
        batch.Add(clip, 3.0);
        StopWhen stop([&] { return batch.host.states.value(1).contains(TASK_EXPORTING); },
                      [&] { batch.engine.OnStopClicked(); });
        QVERIFY(batch.Run());
        QVERIFY(stop.done);
        QVERIFY(batch.Finished(0));
        QCOMPARE(batch.host.states.value(1).last(), int(TASK_CANCELED));
        QCOMPARE(FilesIn(out), QStringList{"clip.3g2"});
    }

    // A first pass that does not take "q" is killed after a grace time; Stop used again
    // meanwhile (a second click, or closing the window) changes nothing.
    void firstPassIgnoringQuitIsKilled()
    {
        const EnginePaths paths = MakeProgramFolder(
            dir.filePath("stubborn"),
            {{"3GP_AMR_Profile.ini", "[Info]\nDescription=stubborn\nDefaultProfile=1\n"
                                     "[Stubborn]\nTitle=ignores q\nPass1=" KESTRANI_TEST_BIN_DIR
                                     "/fake_encoder --ignore-q --wait-q --interval 20\n"
                                     "Pass2=true\nPass3=true\n"}});
        const QString out = NewFolder();
        Batch batch(paths, 0, out);
        batch.Add(clip, 3.0);
        batch.Add(clip, 3.0);
        StopWhen stop([&] { return batch.tasks.GetAt(0).encodedSeconds > 0; },
                      [&] {
                          batch.engine.OnStopClicked();
                          QTimer::singleShot(200, &batch.engine, &ConversionEngine::OnStopClicked);
                      });
        QVERIFY(batch.Run());
        QVERIFY(stop.done);
        QCOMPARE(batch.host.states.value(0), (QList<int>{TASK_ENCODING, TASK_CANCELED}));
        QVERIFY(!batch.host.states.contains(1));
        QCOMPARE(FilesIn(out), QStringList{});
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(batch.host.messages.size(), 1);
    }

    // Stop outside a batch does nothing, to the list or to the files.
    void stopOutsideABatchDoesNothing()
    {
        const QString out = NewFolder();
        QVERIFY(WriteFile(out + "/clip_temp.3gp", "the user's own file"));
        Batch batch(real, 0, out);
        batch.Add(clip, 2.0);
        batch.engine.OnStopClicked();
        QVERIFY(!batch.engine.IsConverting());
        QCOMPARE(FilesIn(out), QStringList{"clip_temp.3gp"});
        QVERIFY(batch.host.invalidations.isEmpty());
        QVERIFY(batch.host.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBatchStop)
#include "tst_batchstop.moc"
