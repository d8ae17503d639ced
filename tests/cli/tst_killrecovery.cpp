// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-cli killed outright (SIGKILL) in the middle of a batch: its tools go with it, and the
// next batch (not a mere start of a program) ends what its tools had started and removes the
// files the killed batch had begun, and nothing else: the user's files, a file the user saved
// or copied over one of the killed batch's names afterwards, and the outputs the batch had
// finished stay. A batch that still runs is never cleaned up by another.
#include "inireader.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// How the user takes over one of the killed batch's names once it is dead.
enum TakeOver { Nothing, SavedInPlace, CopiedOver };

// How often a running batch shows that it is alive (BatchJournal).
constexpr int BatchJournalHeartbeatMs = 2000;
const QString builtProgram = QStringLiteral(KESTRANI_PROGRAM_DIR);

// Pass 3 for files whose name holds "slow": rewrites the file in place through a sibling
// scratch copy, as AtomicParsley does, with a tool of its own started beside it, and takes
// its time; other files pass at once.
const char *const slowTagScript = R"(#!/bin/sh
f=$1
case "$f" in
  *slow*) cp "$f" "${f%.3gp}-temp-$$.3gp"
          tail -f "$f" > /dev/null &
          wait;;
esac
exit 0
)";

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    return condition();
}

} // namespace

class TestKillRecovery : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString program; // a program folder of the test's own: kestrani-cli and app/
    QString journals;
    QString clip, slowClip, longClip;
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders); }

    QString Cli() const { return program + "/kestrani-cli"; }

    // The shipped AAC profile's smallest preset with the slow title step as pass 3.
    bool MakeProgramFolder()
    {
        program = dir.filePath("program");
        const QString app = program + "/app/";
        if (!QDir().mkpath(app) || !QFile::copy(builtProgram + "/kestrani-cli", Cli()))
            return false;
        const QDir built(builtProgram + "/app");
        for (const QString &name : built.entryList(QDir::Files))
            if (name != "log.txt" && !QFile::link(built.filePath(name), app + name) &&
                !QFileInfo::exists(app + name))
                return false;
        CIniReader shipped;
        shipped.SetFile(built.filePath("3GP_AAC_Profile.ini"));
        QStringList sections, keys, values;
        shipped.GetSectionNames(sections);
        shipped.GetSection(sections.value(1), keys, values); // whole values, not cut
        const QString profile =
            QStringLiteral("[Info]\nDescription=slow title\nDefaultProfile=1\n[Slow]\n"
                           "Title=slow title step\nPass1=%1\nPass2=%2\n"
                           "Pass3=slowtag \"$OUTPUT_DIR$OUTPUT_FILE.3gp\"\n")
                .arg(values.value(keys.indexOf("Pass1")), values.value(keys.indexOf("Pass2")));
        QFile::remove(app + "3GP_AAC_Profile.ini");
        return WriteFile(app + "3GP_AAC_Profile.ini", profile.toUtf8()) &&
               WriteFile(app + "slowtag", slowTagScript) &&
               QFile::setPermissions(app + "slowtag", QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ExeGroup |
                                                          QFile::ReadGroup);
    }

    QStringList Journals() const { return QDir(journals).entryList({"*.json"}, QDir::Files); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The program's settings and journals go into the test's own folders.
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        journals = dir.filePath("data/Kestrani/Kestrani/batches");
        QVERIFY(MakeProgramFolder());
        clip = dir.filePath("clip.mp4");
        slowClip = dir.filePath("slow.mp4");
        longClip = dir.filePath("long.mp4");
        QVERIFY(MakeToneClip(clip, 1.0, "160x120"));
        QVERIFY(QFile::copy(clip, slowClip));
        QVERIFY(MakeToneClip(longClip, 20.0, "640x480"));
    }

    void killedBatchIsCleanedUpByTheNextBatch_data()
    {
        QTest::addColumn<bool>("inFirstPass"); // else in the title step, with its own tool
        QTest::addColumn<int>("takeOver");
        QTest::newRow("first pass") << true << int(Nothing);
        QTest::newRow("title step with a tool it started") << false << int(Nothing);
        QTest::newRow("first pass, the user saves over the file being written")
            << true << int(SavedInPlace);
        QTest::newRow("title step, the user copies a file over the unfinished output")
            << false << int(CopiedOver);
    }
    void killedBatchIsCleanedUpByTheNextBatch()
    {
        QFETCH(bool, inFirstPass);
        QFETCH(int, takeOver);
        const QString out = NewFolder();
        // The user's: a file the batch must not take ("clip.3gp" makes it "clip (2)"), one
        // shaped like a scratch file of the killed task, and an unrelated one.
        QStringList userFiles{"clip.3gp", "slow-temp-99999.3gp", "notes.txt"};
        for (const QString &name : userFiles)
            QVERIFY(WriteFile(out + "/" + name, "the user's " + name.toUtf8()));

        const QString killedSource = inFirstPass ? longClip : slowClip;
        const QString killedName = inFirstPass ? "long" : "slow";
        QProcess batch;
        batch.start(Cli(), {"-t", "1", "-p", "1", "-o", out, clip, killedSource});
        QVERIFY(batch.waitForStarted());
        // Killed once the first task has finished and the second is under way.
        const bool reached = WaitFor(
            [&] {
                const QStringList files = FilesIn(out);
                if (!files.contains("clip (2).3gp") || QFileInfo(out + "/clip (2).3gp").size() == 0)
                    return false;
                return inFirstPass
                           ? QFileInfo(out + "/long_temp.3gp").size() > 0
                           : files.filter(QRegularExpression("^slow-temp-\\d+\\.3gp$")).size() > 1;
            },
            60000);
        QVERIFY2(reached, qPrintable(FilesIn(out).join(", ")));
        if (!inFirstPass) // the title step's own tool is up
            QVERIFY(WaitFor([&] { return !ProcessesUsing(out).filter("tail ").isEmpty(); }, 5000));
        QCOMPARE(Journals().size(), 1);
        QVERIFY(!ProcessesUsing(out).isEmpty());
        ::kill(pid_t(batch.processId()), SIGKILL);
        QVERIFY(batch.waitForFinished(5000));

        // The tools the program started went with it; a tool that one of them started is
        // still there until the next batch.
        const auto directTools = [&] {
            const QStringList running = ProcessesUsing(out);
            return running.size() - running.filter(QRegularExpression("^tail ")).size();
        };
        QVERIFY(WaitFor([&] { return directTools() == 0; }, 5000));
        QCOMPARE(ProcessesUsing(out).size(), inFirstPass ? 0 : 1);
        const QString left = killedName + (inFirstPass ? "_temp.3gp" : ".3gp");
        QVERIFY(FilesIn(out).contains(left));

        // Starting a program, or asking it for its version or profiles, starts no batch.
        const QStringList before = FilesIn(out);
        for (const QStringList &arguments : {QStringList{"--version"}, {"--list-profiles"}}) {
            QProcess quiet;
            quiet.start(Cli(), arguments);
            QVERIFY(quiet.waitForFinished(30000));
            QCOMPARE(quiet.exitCode(), 0);
        }
        QCOMPARE(FilesIn(out), before);

        if (takeOver != Nothing) {
            // Later than the dead program's last sign of life.
            QTest::qWait(BatchJournalHeartbeatMs + 1500);
            if (takeOver == SavedInPlace) {
                QFile saved(out + "/" + left);
                QVERIFY(saved.open(QIODevice::WriteOnly | QIODevice::Truncate));
                saved.write("the user's " + left.toUtf8());
            } else {
                QVERIFY(QFile::remove(out + "/" + left));
                QVERIFY(WriteFile(out + "/" + left, "the user's " + left.toUtf8()));
            }
            userFiles.append(left);
        }

        QProcess next;
        next.start(Cli(), {"-t", "1", "-p", "1", "-o", NewFolder(), clip});
        QVERIFY(next.waitForFinished(60000));
        QCOMPARE(next.exitCode(), 0);
        const QString err = QString::fromUtf8(next.readAllStandardError());

        QStringList expected = userFiles;
        expected.append("clip (2).3gp");
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
        for (const QString &name : std::as_const(userFiles))
            QCOMPARE(ReadFile(out + "/" + name), "the user's " + name.toUtf8());
        QVERIFY2(ProcessesUsing(out).isEmpty(), qPrintable(ProcessesUsing(out).join(", ")));
        QCOMPARE(Journals(), QStringList{});
        QVERIFY2(err.contains("kestrani-cli: removed " + out + "/" + killedName), qPrintable(err));
        QVERIFY(ReadFile(program + "/app/log.txt").contains("a batch was interrupted"));
    }

    // Another batch while a batch runs leaves that batch alone; the batch then ends normally.
    void runningBatchIsLeftAlone()
    {
        const QString out = NewFolder();
        QProcess batch;
        batch.start(Cli(), {"-t", "1", "-p", "1", "-o", out, slowClip});
        QVERIFY(WaitFor(
            [&] { return !FilesIn(out).filter(QRegularExpression("^slow-temp-")).isEmpty(); },
            60000));
        const QStringList during = FilesIn(out);
        QProcess other;
        other.start(Cli(), {"-t", "1", "-p", "1", "-o", NewFolder(), clip});
        QVERIFY(other.waitForFinished(60000));
        QVERIFY(!QString::fromUtf8(other.readAllStandardError()).contains("removed"));
        QCOMPARE(FilesIn(out), during);
        QVERIFY(WaitFor([&] { return Journals().size() == 1; }, 5000));
        ::kill(pid_t(batch.processId()), SIGTERM); // Stop: the batch cleans up itself
        QVERIFY(batch.waitForFinished(15000));
        QCOMPARE(batch.exitCode(), 128 + SIGTERM);
        QCOMPARE(FilesIn(out), QStringList{});
        QCOMPARE(Journals(), QStringList{});
        QVERIFY(WaitFor([&] { return ProcessesUsing(out).isEmpty(); }, 5000));
    }
};

QTEST_GUILESS_MAIN(TestKillRecovery)
#include "tst_killrecovery.moc"
