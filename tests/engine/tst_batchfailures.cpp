// SPDX-License-Identifier: GPL-3.0-or-later
// What a batch does when things go wrong: a pass that fails, a tool that is missing or crashes,
// a task without a usable profile, an output folder that cannot take files. The passes here are
// small shell steps (sh is a real tool) that copy the source or fail on request, chosen by the
// source's name, so that one batch holds failing and succeeding tasks.
#include "batchfixture.h"

#include <QTest>

#include <unistd.h>

using namespace batchtest;

namespace {

// step.sh PASS SOURCE OUTPUT: fails, crashes or leaves nothing when the source's name asks
// for it in this pass; pass 2 copies the source to the output.
const char *const stepScript = R"(n=$1; src=$2; out=$3
case "$src" in
  *fail$n*) echo "pass $n cannot go on"; echo "because of $src"; exit 3;;
  *crash$n*) kill -SEGV $$;;
  *noout$n*) rm -f "$out"; exit 0;;
esac
if [ "$n" = 2 ]; then cp "$src" "$out"; fi
exit 0
)";

QString StepProfile(const QString &extraSections = QString())
{
    return QStringLiteral("[Info]\nDescription=steps\nDefaultProfile=1\n"
                          "[Steps]\nTitle=steps\n"
                          "Pass1=sh step.sh 1 \"$INPUT_FILE\"\n"
                          "Pass2=sh step.sh 2 \"$INPUT_FILE\" \"$OUTPUT_DIR$OUTPUT_FILE.3gp\"\n"
                          "Pass3=sh step.sh 3 \"$INPUT_FILE\" \"$OUTPUT_DIR$OUTPUT_FILE.3gp\"\n") +
           extraSections;
}

// Output type 2: passes 2 and 4 write the intermediate and the output.
const char *const stepProfile3g2 =
    "[Info]\nDescription=steps\nDefaultProfile=1\n"
    "[Steps]\nTitle=steps\n"
    "Pass1=sh step.sh 1 \"$INPUT_FILE\"\n"
    "Pass2=sh step.sh 2 \"$INPUT_FILE\" \"$OUTPUT_DIR$OUTPUT_FILE_temp_2.3g2\"\n"
    "Pass3=sh step.sh 3 \"$INPUT_FILE\"\n"
    "Pass4=sh step.sh 2 \"$INPUT_FILE\" \"$OUTPUT_DIR$OUTPUT_FILE.3g2\"\n"
    "Pass5=sh step.sh 5 \"$INPUT_FILE\"\n";

const QString errorCaption = QStringLiteral("Error");

} // namespace

class TestBatchFailures : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString sources;
    int folders = 0;

    QString NewFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("out%1").arg(++folders));
        QDir().mkpath(folder);
        return folder;
    }
    QString Source(const QString &name)
    {
        const QString path = sources + "/" + name;
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("not a video, only bytes to copy\n");
        return path;
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        const QString extra = QStringLiteral(
            "[MissingTool]\nTitle=missing\nPass1=true\nPass2=kestrani-no-such-tool\nPass3=true\n"
            "[TooFew]\nTitle=too few\nPass1=true\nPass2=true\n"
            "[Empty]\nTitle=empty\nPass1=\nPass2=true\nPass3=true\n");
        QVERIFY(
            MakeProgramFolder(dir.filePath("program"), {{"3GP_AMR_Profile.ini", StepProfile(extra)},
                                                        {"3GP2_AAC_Profile.ini", stepProfile3g2}}));
        QFile script(AppFolder() + "/step.sh");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(stepScript);
        sources = dir.filePath("sources");
        QDir().mkpath(sources);
    }

    // Task 1 fails as the row says, task 2 converts: the batch goes on, only finished tasks
    // are finished, the failed task leaves no file and the log says what happened.
    void failedTaskAndTheNextOne_data()
    {
        QTest::addColumn<int>("profileRow");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<QStringList>("logged");
        const QList<int> pass1{TASK_ENCODING, TASK_FAILED};
        const QList<int> later{TASK_ENCODING, TASK_EXPORTING, TASK_FAILED};
        QTest::newRow("pass 1 exits with an error")
            << 0 << "fail1.avi" << pass1
            << QStringList{"pass            =   1.", "exit code 3", "pass 1 cannot go on"};
        QTest::newRow("pass 2 exits with an error")
            << 0 << "fail2.avi" << later
            << QStringList{"pass            =   2.", "exit code 3", "pass 2 cannot go on",
                           "command         =   sh step.sh 2 \""};
        QTest::newRow("pass 3 exits with an error, after the output was written")
            << 0 << "fail3.avi" << later
            << QStringList{"pass            =   3.", "exit code 3", "because of "};
        QTest::newRow("pass 2 crashes")
            << 0 << "crash2.avi" << later << QStringList{"pass            =   2.", "abnormally"};
        QTest::newRow("every pass succeeds but no output is left")
            << 0 << "noout3.avi" << later
            << QStringList{"pass            =   3.", "is missing or empty"};
        QTest::newRow("a tool that is not there")
            << 1 << "fine.avi" << QList<int>{TASK_ENCODING, TASK_EXPORTING, TASK_FAILED}
            << QStringList{"pass            =   2.", "did not start"};
        QTest::newRow("a pass with an empty command")
            << 3 << "fine.avi" << pass1 << QStringList{"pass            =   1.", "did not start"};
        QTest::newRow("a profile with fewer entries than passes")
            << 2 << "fine.avi" << QList<int>{TASK_FAILED}
            << QStringList{"pass            =   none.", "no usable profile"};
        QTest::newRow("no profile selected")
            << -1 << "fine.avi" << QList<int>{TASK_FAILED}
            << QStringList{"pass            =   none.", "no usable profile"};
    }
    void failedTaskAndTheNextOne()
    {
        QFETCH(int, profileRow);
        QFETCH(QString, source);
        QFETCH(QList<int>, states);
        QFETCH(QStringList, logged);

        QFile::remove(AppFolder() + "/log.txt");
        const QString out = NewFolder();
        Batch batch(0, out);
        batch.host.profileRow = profileRow;
        batch.Add(Source(source), 2.0);
        batch.Add(Source("good.avi"), 2.0);
        batch.engine.OnStartClicked();

        QCOMPARE(batch.host.states.value(0), states);
        QCOMPARE(batch.tasks.GetAt(0).finished, 0);
        QCOMPARE(ProgressText(batch.tasks.GetAt(0)), QStringLiteral("Failed"));
        const bool profileUsable = profileRow == 0;
        QCOMPARE(batch.tasks.GetAt(1).finished, profileUsable ? 1 : 0);
        QCOMPARE(FilesIn(out), profileUsable ? QStringList{"good.3gp"} : QStringList{});
        const QString log = ReadLog();
        QVERIFY2(log.contains("ERROR:   TASK        =   1 (" + sources + "/" + source + ")."),
                 qPrintable(log));
        for (const QString &text : logged)
            QVERIFY2(log.contains(text), qPrintable(text + " not in\n" + log));
        QCOMPARE(log.contains("TASK        =   2"), !profileUsable);
        QCOMPARE(batch.host.messages.size(), 1); // the batch still ends as usual
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
        QCOMPARE(ChildProcesses(), QList<int>{});
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

        Batch batch(0, folder);
        batch.Add(Source("good.avi"), 2.0);
        batch.engine.OnStartClicked();
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, message);
        QCOMPARE(batch.host.messages[0].caption, errorCaption);
        QCOMPARE(batch.host.previewStops, 1);
        QVERIFY(batch.host.buttons.isEmpty()); // nothing started
        QVERIFY(batch.host.settings.isEmpty());
        QVERIFY(batch.host.states.isEmpty());
        QCOMPARE(batch.engine.converting, 0);
        QCOMPARE(FilesIn(dir.filePath("locked")), QStringList{});
    }

    void emptyListDoesNothing()
    {
        Batch batch(0, NewFolder());
        batch.engine.OnStartClicked();
        QVERIFY(batch.host.messages.isEmpty());
        QCOMPARE(batch.host.previewStops, 0);
        QVERIFY(batch.host.buttons.isEmpty());
    }

    // With the box ticked, a batch that was not stopped ends in the shutdown, which here meets
    // a refusal: its warning instead of the "Converting Finished" box.
    void shutdownAfterTheBatch()
    {
        const QString out = NewFolder();
        Batch batch(2, out);
        batch.host.shutdownTicked = true;
        batch.Add(Source("good.avi"), 2.0);
        batch.engine.OnStartClicked();
        QCOMPARE(batch.host.states.value(0),
                 (QList<int>{TASK_ENCODING, TASK_EXPORTING, TASK_CHANGING, FINISHED}));
        QCOMPARE(FilesIn(out), QStringList{"good.3g2"}); // both intermediates deleted
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, QStringLiteral("Your computer cannot shutdown"));
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Warning"));
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
    }

    // Start while a batch runs (a handler nested in a runner) is refused.
    void startInsideABatchIsRefused()
    {
        Batch batch(0, NewFolder());
        batch.host.profileRow = 0;
        batch.Add(Source("good.avi"), 2.0);
        int nested = 0;
        batch.host.onPump = [&] {
            if (nested++ == 0)
                batch.engine.OnStartClicked();
        };
        batch.engine.OnStartClicked();
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.tasks.GetAt(0).finished, 1);
    }
};

QTEST_GUILESS_MAIN(TestBatchFailures)
#include "tst_batchfailures.moc"
