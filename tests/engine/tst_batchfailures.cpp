// SPDX-License-Identifier: GPL-3.0-or-later
// What a batch does when a task goes wrong: a pass that fails, crashes, stops making progress
// or leaves no file or a wrong one, a tool that is missing, no usable profile, nothing to
// convert, an output folder that cannot take files. The failed task says so in its row and in
// the log, leaves no file, and the batch goes on. The passes are small shell steps (sh is a
// real tool) that fail on request, chosen by the source's name, or copy a finished file made
// by ffmpeg, so that one batch holds failing and succeeding tasks.
#include "batchfixture.h"
#include "mediacheck.h"

#include <unistd.h>

using namespace batchtest;

namespace {

// step.sh PASS SOURCE [OUTPUT GOOD]: fails, crashes, leaves nothing or a file that is no 3GP
// when the source's name asks for it in this pass; otherwise copies GOOD to OUTPUT.
const char *const stepScript = R"(n=$1; src=$2; out=$3; good=$4
case "$src" in
  *fail$n*) echo "pass $n cannot go on"; echo "because of $src"; exit 3;;
  *crash$n*) kill -SEGV $$;;
  *noout$n*) rm -f "$out"; exit 0;;
  *wrong$n*) cat "$src" > "$out"; exit 0;;
esac
if [ -n "$good" ]; then cat "$good" > "$out"; fi
exit 0
)";

// A step profile of the type's pass count: the pass that writes the output in the shipped
// profile copies the finished file. Further entries are the sections given.
QString StepProfile(int outputType, const QString &app, const QString &more = QString())
{
    const OutputType *type = OutputType::Find(outputType);
    QString text = QStringLiteral("[Info]\nDescription=steps\nDefaultProfile=1\n[Steps]\n"
                                  "Title=steps\n");
    for (int pass = 1; pass <= type->PassCount(); ++pass) {
        text += QStringLiteral("Pass%1=sh %2step.sh %1 \"$INPUT_FILE\"").arg(pass).arg(app);
        if (type->WrittenBy(pass).contains(TaskFile::Output))
            text += QStringLiteral(" \"$OUTPUT_DIR$OUTPUT_FILE%1\" %2good%1")
                        .arg(type->Extension(), app);
        text += QLatin1Char('\n');
    }
    return text + more;
}

const QString stuck = QStringLiteral(KESTRANI_TEST_BIN_DIR "/fake_encoder --hang");

} // namespace

class TestBatchFailures : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;
    QString clip;
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders); }
    // A copy of the clip whose name tells the steps what to do.
    QString Source(const QString &name)
    {
        const QString path = dir.filePath("sources/" + name);
        QFile::copy(clip, path);
        return path;
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        QDir().mkpath(dir.filePath("sources"));
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeToneClip(clip, 1.0, "160x120"));
        const QString app = dir.filePath("program/app/");
        const QString more =
            QStringLiteral(
                "[MissingTool]\nTitle=missing\n"
                "Pass1=true\nPass2=kestrani-no-such-tool\nPass3=true\n"
                "[TooFew]\nTitle=too few\nPass1=true\nPass2=true\n"
                "[Empty]\nTitle=empty\nPass1=\nPass2=true\nPass3=true\n"
                "[StuckFirst]\nTitle=stuck first pass\nPass1=%1\nPass2=true\nPass3=true\n"
                "[StuckLater]\nTitle=stuck later pass\nPass1=true\nPass2=%1\nPass3=true\n")
                .arg(stuck);
        paths = MakeProgramFolder(dir.filePath("program"),
                                  {{"3GP_AMR_Profile.ini", StepProfile(0, app, more)},
                                   {"3GP2_AAC_Profile.ini", StepProfile(2, app)}});
        QVERIFY(paths.IsValid());
        QFile script(app + "step.sh");
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write(stepScript) > 0);
        for (const QString format : {"3gp", "3g2"}) {
            int exitCode = -1;
            mediacheck::Run("ffmpeg",
                            {"-v", "error", "-nostdin", "-y", "-i", clip, "-c", "copy", "-f",
                             format, app + "good." + format},
                            &exitCode);
            QCOMPARE(exitCode, 0);
        }
    }

    // Task 1 fails as the row says, task 2 converts: the batch goes on, only finished tasks
    // are finished, the failed task leaves no file and the log says what happened.
    void failedTaskAndTheNextOne_data()
    {
        QTest::addColumn<int>("profileRow");
        QTest::addColumn<QString>("source");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<QStringList>("logged");
        const QList<int> none{TASK_FAILED};
        const QList<int> pass1{TASK_ENCODING, TASK_FAILED};
        const QList<int> later{TASK_ENCODING, TASK_EXPORTING, TASK_FAILED};
        QTest::newRow("pass 1 exits with an error")
            << 0 << "fail1.mp4" << 1.0 << pass1
            << QStringList{"pass            =   1.", "exit code 3", "pass 1 cannot go on"};
        QTest::newRow("pass 2 exits with an error")
            << 0 << "fail2.mp4" << 1.0 << later
            << QStringList{"pass            =   2.", "exit code 3", "pass 2 cannot go on",
                           "command         =   sh "};
        QTest::newRow("pass 3 exits with an error, after the output was written")
            << 0 << "fail3.mp4" << 1.0 << later
            << QStringList{"pass            =   3.", "exit code 3", "because of "};
        QTest::newRow("pass 2 crashes") << 0 << "crash2.mp4" << 1.0 << later
                                        << QStringList{"pass            =   2.", "abnormally"};
        QTest::newRow("every pass succeeds but no output is left")
            << 0 << "noout3.mp4" << 1.0 << later << QStringList{"is missing or empty"};
        QTest::newRow("every pass succeeds but the output is no 3GP")
            << 0 << "wrong3.mp4" << 1.0 << later << QStringList{"not what the profile makes"};
        QTest::newRow("a tool that is not there")
            << 1 << "fine.mp4" << 1.0 << later
            << QStringList{"pass            =   2.", "did not start"};
        QTest::newRow("a pass with an empty command")
            << 3 << "fine.mp4" << 1.0 << pass1
            << QStringList{"pass            =   1.", "did not start"};
        QTest::newRow("a first pass that stops making progress")
            << 4 << "fine.mp4" << 1.0 << pass1
            << QStringList{"pass            =   1.", "no progress for too long"};
        QTest::newRow("a later pass that stops making progress")
            << 5 << "fine.mp4" << 1.0 << later
            << QStringList{"pass            =   2.", "no progress for too long"};
        QTest::newRow("a profile with fewer entries than passes")
            << 2 << "fine.mp4" << 1.0 << none
            << QStringList{"pass            =   none.", "no usable profile"};
        QTest::newRow("no profile selected")
            << -1 << "fine.mp4" << 1.0 << none
            << QStringList{"pass            =   none.", "no usable profile"};
        QTest::newRow("zero length: the file could not be read")
            << 0 << "fine.mp4" << 0.0 << none << QStringList{"clip length is 0"};
        QTest::newRow("a source that is no video")
            << 0 << "bytes.mp4" << 1.0 << none << QStringList{"cannot be read as a video"};
    }
    void failedTaskAndTheNextOne()
    {
        QFETCH(int, profileRow);
        QFETCH(QString, source);
        QFETCH(double, seconds);
        QFETCH(QList<int>, states);
        QFETCH(QStringList, logged);

        QFile::remove(paths.logFile);
        const QString out = NewFolder();
        Batch batch(paths, 0, out);
        batch.host.profileRow = profileRow;
        batch.engine.SetStallSeconds(1);
        QString path = Source(source);
        if (source == QLatin1String("bytes.mp4")) {
            QFile bytes(path);
            QVERIFY(bytes.open(QIODevice::WriteOnly | QIODevice::Truncate));
            bytes.write("not a video, only bytes\n");
        }
        batch.Add(path, seconds);
        batch.Add(Source("good.mp4"), 1.0);
        QVERIFY(batch.Run());

        QCOMPARE(batch.host.states.value(0), states);
        QVERIFY(!batch.Finished(0));
        QCOMPARE(ProgressText(batch.tasks.GetAt(0)), QStringLiteral("Failed"));
        QVERIFY(!batch.host.failures.value(0).isEmpty());
        const bool profileUsable = profileRow == 0;
        QCOMPARE(batch.Finished(1), profileUsable);
        QCOMPARE(FilesIn(out), profileUsable ? QStringList{"good.3gp"} : QStringList{});
        const QString log = ReadLog(paths);
        QVERIFY2(log.contains("ERROR:   TASK        =   1 (" + path + ")."), qPrintable(log));
        const QString entry = TaskEntry(log, 0);
        for (const QString &text : logged)
            QVERIFY2(entry.contains(text), qPrintable(text + " not in\n" + log));
        QCOMPARE(log.contains("TASK        =   2"), !profileUsable);
        QCOMPARE(batch.host.messages.size(), 1); // the batch still ends as usual
        QCOMPARE(batch.host.messages[0].text,
                 QStringLiteral("%1 of 2 videos failed: see the Progress column")
                     .arg(profileUsable ? 1 : 2));
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
        QCOMPARE(ChildProcesses(), QList<int>{});
    }

    // The closing message counts the failed tasks, with tasks side by side too.
    void closingMessageCountsFailures_data()
    {
        QTest::addColumn<int>("simultaneous");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("two at once") << 2;
    }
    void closingMessageCountsFailures()
    {
        QFETCH(int, simultaneous);
        Batch batch(paths, 0, NewFolder());
        batch.engine.SetSimultaneousTasks(simultaneous);
        for (const char *name : {"a.mp4", "fail1-b.mp4", "c.mp4", "fail2-d.mp4", "e.mp4"})
            batch.Add(Source(name), 1.0);
        QVERIFY(batch.Run());
        QCOMPARE(batch.engine.UnfinishedTasks(), 2);
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text,
                 QStringLiteral("2 of 5 videos failed: see the Progress column"));
        QCOMPARE(FilesIn(batch.host.folderText), (QStringList{"a.3gp", "c.3gp", "e.3gp"}));
    }

    // The output type's profile file is gone: every task fails, none runs a tool.
    void missingProfileFile()
    {
        const EnginePaths bare = MakeProgramFolder(dir.filePath("bare"));
        QVERIFY(QFile::remove(bare.InApp("3GP_AAC_Profile.ini")));
        Batch batch(bare, 1, NewFolder());
        batch.Add(Source("good.mp4"), 1.0);
        batch.Add(Source("good.mp4"), 1.0);
        QVERIFY(batch.Run());
        QCOMPARE(batch.host.states.value(0), QList<int>{TASK_FAILED});
        QCOMPARE(batch.host.states.value(1), QList<int>{TASK_FAILED});
        QVERIFY(TaskEntry(ReadLog(bare), 1).contains("no usable profile"));
        QCOMPARE(FilesIn(batch.host.folderText), QStringList{});
        QCOMPARE(batch.host.messages.value(0).text,
                 QStringLiteral("2 of 2 videos failed: see the Progress column"));
    }

    void outputFolderThatCannotTakeFiles_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        const QString missing = dir.filePath("no such folder");
        const QString file = dir.filePath("a file");
        const QString locked = dir.filePath("locked");
        QTest::newRow("empty") << ""
                               << "  Please set the output directory firstly   ";
        QTest::newRow("missing") << missing
                                 << "  The output directory \"" + missing + "\" does not exist   ";
        QTest::newRow("a file, not a folder")
            << file << "  The output directory \"" + file + "\" does not exist   ";
        QTest::newRow("a system folder no one writes in")
            << "/proc"
            << "  The output directory \"/proc\" cannot be written   ";
        QTest::newRow("not writable")
            << locked << "  The output directory \"" + locked + "\" cannot be written   ";
    }
    void outputFolderThatCannotTakeFiles()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QFile(dir.filePath("a file")).open(QIODevice::WriteOnly);
        QDir().mkpath(dir.filePath("locked"));
        QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
        if (QTest::currentDataTag() == QLatin1String("not writable") && ::geteuid() == 0)
            QSKIP("root writes into any folder");

        Batch batch(paths, 0, folder);
        batch.Add(Source("good.mp4"), 1.0);
        batch.engine.OnStartClicked();
        QVERIFY(!batch.engine.IsConverting());
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, message);
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(batch.host.previewStops, 1);
        QVERIFY(batch.host.buttons.isEmpty()); // nothing started
        QVERIFY(batch.host.settings.isEmpty());
        QVERIFY(batch.host.states.isEmpty());
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(FilesIn(dir.filePath("locked")), QStringList{});
    }

    void emptyListDoesNothing()
    {
        Batch batch(paths, 0, NewFolder());
        batch.engine.OnStartClicked();
        QVERIFY(!batch.engine.IsConverting());
        QVERIFY(batch.host.messages.isEmpty());
        QCOMPARE(batch.host.previewStops, 0);
        QVERIFY(batch.host.buttons.isEmpty());
    }

    // With the box ticked, a batch that was not stopped ends in the shutdown, which here meets
    // a refusal: its warning instead of the closing message. Start again meanwhile is ignored.
    void shutdownAfterTheBatch()
    {
        const QString out = NewFolder();
        Batch batch(paths, 2, out);
        batch.host.shutdownTicked = true;
        batch.Add(Source("good.mp4"), 1.0);
        batch.host.onProgress = [&](int) { batch.engine.OnStartClicked(); };
        QVERIFY(batch.Run());
        QCOMPARE(batch.host.states.value(0),
                 (QList<int>{TASK_ENCODING, TASK_EXPORTING, TASK_CHANGING, FINISHED}));
        QCOMPARE(FilesIn(out), QStringList{"good.3g2"}); // both intermediates deleted
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, QStringLiteral("Your computer cannot shutdown"));
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Warning"));
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
    }
};

QTEST_GUILESS_MAIN(TestBatchFailures)
#include "tst_batchfailures.moc"
