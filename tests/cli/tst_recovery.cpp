// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-cli killed outright (SIGKILL) in the middle of a pass whose tool started a tool of
// its own. The direct tool dies with the program; the next batch into the folder ends what is
// left of the dead run's tools and removes the files it made, its placeholders and its
// scratch files, and nothing else: not the user's files, not a file the user put at one of its
// names, not one written since, however its times were set and however soon after the kill.
// A batch of a run that is still alive is never cleaned up, even when its lock file is gone.
#include "engine.h"

#include <csignal>

using namespace support;

namespace {

// What the user does once the run is dead, before the next batch (or, LockRemoved, while it
// runs).
enum TakeOver {
    Nothing,
    CopiedOver,
    SavedLater,
    WroteIntoPlaceholder,
    CopiedKeepingTimes,
    WrittenAtOnce,
    LockRemoved,
    LateInPass
};

// Profile 1 stalls in pass 1 (growing its file, with scratch files and a child beside it, as
// tools do: AtomicParsley's copy, our AMR tool's staging name); profile 2 starts a batch and
// ends at once (its task fails: no output).
const QString profiles =
    QStringLiteral("[Info]\nDescription=recovery\nDefaultProfile=1\n[Stall]\nTitle=stall\n"
                   "Pass1=" KESTRANI_TEST_BIN_DIR "/fake_encoder --hang --spawn "
                   "--scratch \"$OUTPUT_DIR$OUTPUT_FILE-temp-54321.3gp\" "
                   "--scratch \"$OUTPUT_DIR.$OUTPUT_FILE_temp.3gp.54321.partial\" --write "
                   "\"$OUTPUT_DIR$OUTPUT_FILE_temp.3gp\"\nPass2=true\nPass3=true\n"
                   "[Quick]\nTitle=quick\nPass1=true\nPass2=true\nPass3=true\n");

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString cli; // a copy of kestrani-cli beside an app folder of the test's own
    QString clip;
    int folders = 0;

    QString Journals() const { return dir.filePath("data/Kestrani/Kestrani/batches"); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8()); // the runs' journals
        QVERIFY(MakeProgramFolder(dir.filePath("program"), {{"3GP_AAC_Profile.ini", profiles}})
                    .IsValid());
        cli = dir.filePath("program/kestrani-cli");
        QVERIFY(QFile::copy(cliProgram, cli));
        clip = SharedClip(Clip{.seconds = 1.0});
    }

    void killedRunIsCleanedUpByTheNextBatch_data()
    {
        QTest::addColumn<int>("takeOver");
        QTest::newRow("nothing: its files, scratch and tools go") << int(Nothing);
        QTest::newRow("a file copied over the file being written stays") << int(CopiedOver);
        QTest::newRow("the file being written, saved after the run died, stays") << int(SavedLater);
        QTest::newRow("the output's placeholder written into stays") << int(WroteIntoPlaceholder);
        QTest::newRow("the file being written, copied over with its old times (cp -p), stays")
            << int(CopiedKeepingTimes);
        QTest::newRow("the file being written, written over at once after the kill, stays")
            << int(WrittenAtOnce);
        QTest::newRow("a live run whose lock file is removed is still left alone")
            << int(LockRemoved);
        QTest::newRow("killed late in a long pass: the file its tool wrote to the end goes")
            << int(LateInPass);
    }
    void killedRunIsCleanedUpByTheNextBatch()
    {
        QFETCH(int, takeOver);
        const QString out = NewFolder(dir, folders);
        // The user's: one shaped like a scratch file of the task, made before it.
        QStringList users{"clip-temp-99999.3gp", "notes.txt"};
        for (const QString &name : users)
            QVERIFY(WriteFile(out + u'/' + name, "the user's " + name.toUtf8()));
        QProcess run;
        run.start(cli, {"-t", "1", "-p", "1", "-o", out, clip});
        const QString writing = out + "/clip_temp.3gp";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(writing).size() > 0, 20000);
        const QDateTime seen = QDateTime::currentDateTime();
        QCOMPARE(FilesIn(out).size(), 6); // with the placeholder clip.3gp and the scratch files

        // Another run's batch meanwhile leaves the live run alone.
        if (takeOver == LockRemoved) // a cleaner, or a home on NFS without shared locks
            for (const QString &lock : QDir(Journals()).entryList({"*.lock"}))
                QVERIFY(QFile::remove(Journals() + u'/' + lock));
        const QStringList during = FilesIn(out);
        const ToolResult other =
            RunTool(cli, {"-t", "1", "-p", "2", "-o", NewFolder(dir, folders), clip}, 30000);
        QCOMPARE(other.exitCode, 1);
        QVERIFY2(!other.err.contains("removed"), other.err.constData());
        QCOMPARE(FilesIn(out), during);
        QCOMPARE(ProcessesUsing(out + u'/').size(), 2); // the tool and its child

        // Long into a pass nothing changes the journal but the run's heartbeat, which goes on
        // saying the program is alive.
        const QStringList journals = QDir(Journals()).entryList({"*.json"});
        QCOMPARE(journals.size(), 1);
        const QString journal = Journals() + u'/' + journals[0];
        QTRY_VERIFY_WITH_TIMEOUT(takeOver != LateInPass ||
                                     QFileInfo(journal).lastModified() > seen.addMSecs(1000),
                                 15000);
        ::kill(pid_t(run.processId()), SIGKILL);
        QVERIFY(run.waitForFinished(5000));
        // The tool dies with the program; its child runs on until the next batch. Nothing else
        // of the killed run is left.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessesUsing(out + u'/').size(), 1, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(ProcessesUsing(Journals()), QStringList{}, 3000);
        const QString name = takeOver == WroteIntoPlaceholder ? "clip.3gp" : "clip_temp.3gp";
        QFile file(out + u'/' + name);
        if (takeOver == CopiedOver)
            QVERIFY(file.remove());
        if (takeOver != Nothing && takeOver != LockRemoved && takeOver != LateInPass) {
            QVERIFY(file.open(QIODevice::WriteOnly)); // in place, unless removed just before
            file.write("the user's " + name.toUtf8());
            file.flush();
            users.append(name);
        }
        // Later than the dead run's last sign of life and the time its tools may have had.
        if (takeOver == SavedLater)
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(30),
                                     QFileDevice::FileModificationTime));
        if (takeOver == CopiedKeepingTimes) // as cp -p leaves it: the copied file's time
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
        file.close();

        const ToolResult next = RunTool(cli, {"-t", "1", "-p", "2", "-o", out, clip}, 30000);
        QCOMPARE(next.exitCode, 1);
        for (const char *scratch : {"/clip-temp-54321.3gp", "/.clip_temp.3gp.54321.partial"})
            QVERIFY2(next.err.contains("kestrani-cli: removed " + out.toUtf8() + scratch +
                                       ", left by an interrupted batch"),
                     next.err.constData());
        users.sort();
        QCOMPARE(FilesIn(out), users);
        for (const QString &user : std::as_const(users))
            QCOMPARE(Contents(out + u'/' + user), "the user's " + user.toUtf8());
        QCOMPARE(ProcessesUsing(out + u'/'), QStringList{});
        QCOMPARE(QDir(Journals()).entryList({"*.json"}), QStringList{});
        QVERIFY(Contents(dir.filePath("program/app/log.txt")).contains("a batch was interrupted"));
    }
};

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
