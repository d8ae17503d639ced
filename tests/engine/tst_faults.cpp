// SPDX-License-Identifier: GPL-3.0-or-later
// Faults from outside while a batch runs, with the real tools: the output folder turns
// read-only or goes away, the disk fills, the source is removed or cut short, a tool is killed
// or missing. Each ends with the task failed (its entry in the log saying why), the user's files
// as they were, no file of the task left that could pass for a converted one, and no tool left.
#include "batchfixture.h"

#include <QCryptographicHash>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace batchtest;

namespace {

enum class Fault {
    FolderReadOnly,
    FolderRemoved,
    DiskFull,
    FileSizeLimit,
    SourceRemoved,
    SourceTruncated,
    FirstToolKilled,
    LaterToolKilled,
    ToolMissing,
};

QByteArray Digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool WriteFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, 'u')) == bytes;
}

bool Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A small file system of its own where the machine lets us mount one (as root): real
// "no space left" and a real read-only remount.
bool MountSmallFolder(const QString &folder, const QString &size)
{
    return ::geteuid() == 0 &&
           Run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder});
}

void KillChildren()
{
    for (int pid : ChildProcesses())
        ::kill(pid, SIGKILL);
}

// The log entry of one task: from its first line to the next entry.
QString TaskEntry(const QString &log, int row, const QString &source)
{
    const QString head = QStringLiteral("TASK        =   %1 (%2)").arg(row + 1).arg(source);
    const qsizetype start = log.lastIndexOf(head);
    if (start < 0)
        return QString();
    const qsizetype end = log.indexOf(QStringLiteral("\nERROR:"), start);
    return log.mid(start, end < 0 ? -1 : end - start);
}

// Also runs a hook on every repaint: between two tasks no events are served, but the finished
// task's row is repainted.
class FaultHost : public BatchHost
{
public:
    using BatchHost::BatchHost;
    std::function<void()> onRepaint;
    void InvalidateCells(int firstRow, int lastRow, int column, bool erase) override
    {
        BatchHost::InvalidateCells(firstRow, lastRow, column, erase);
        if (onRepaint)
            onRepaint();
    }
};

struct FaultBatch {
    TaskList tasks;
    FaultHost host{tasks};
    ConversionEngine engine{host, tasks};
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;
    QStringList mounts;
    int folders = 0;

    QString NewFolder(const QString &prefix = QStringLiteral("out"))
    {
        const QString folder = dir.filePath(QStringLiteral("%1%2").arg(prefix).arg(++folders));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        QVERIFY(MakeProgramFolder(dir.filePath("program")));
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeClip(clip, 3.0, "320x240"));
    }

    void cleanup()
    {
        for (const QString &folder : std::as_const(mounts))
            Run(QStringLiteral("umount"), {"-l", folder});
        mounts.clear();
    }

    void faultFailsTheTask_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("outputType");
        QTest::addColumn<int>("failedTask");
        QTest::addColumn<QString>("logText");   // in the failed task's log entry
        QTest::addColumn<bool>("nextConverts"); // the task after it still converts
        // Between two tasks: a file system with a file open for writing cannot be turned
        // read-only, and the tools have ended then.
        QTest::newRow("output folder turns read-only between tasks")
            << int(Fault::FolderReadOnly) << 1 << 1 << "cannot be written any more" << false;
        QTest::newRow("output folder removed")
            << int(Fault::FolderRemoved) << 1 << 0 << "No such file or directory" << false;
        QTest::newRow("disk full") << int(Fault::DiskFull) << 1 << 0 << "No space left" << false;
        QTest::newRow("file-size limit")
            << int(Fault::FileSizeLimit) << 1 << 0 << "File too large" << false;
        QTest::newRow("source removed")
            << int(Fault::SourceRemoved) << 1 << 0 << "the source file was removed" << true;
        QTest::newRow("source truncated")
            << int(Fault::SourceTruncated) << 2 << 0 << "truncated or replaced" << true;
        QTest::newRow("first-pass tool killed")
            << int(Fault::FirstToolKilled) << 0 << 0 << "ended abnormally" << true;
        QTest::newRow("later-pass tool killed")
            << int(Fault::LaterToolKilled) << 2 << 0 << "ended abnormally" << true;
        QTest::newRow("tool missing from PATH")
            << int(Fault::ToolMissing) << 1 << 0 << "did not start" << false;
    }
    void faultFailsTheTask()
    {
        QFETCH(int, fault);
        QFETCH(int, outputType);
        QFETCH(int, failedTask);
        QFETCH(QString, logText);
        QFETCH(bool, nextConverts);
        const Fault f = Fault(fault);

        // The user's files: the sources, and one already in the output folder.
        const QString out = NewFolder();
        if (f == Fault::DiskFull) {
            if (!MountSmallFolder(out, "1m"))
                QSKIP("mounting a small file system needs root");
            mounts.append(out);
        }
        // Permission bits do not stop root: a read-only mount does.
        const bool remount = f == Fault::FolderReadOnly && ::geteuid() == 0;
        if (remount) {
            QVERIFY(MountSmallFolder(out, "16m"));
            mounts.append(out);
        }
        const QString userFile = out + "/mine.txt";
        QVERIFY(WriteFile(userFile, f == Fault::DiskFull ? 1000 * 1000 : 100));
        const QByteArray userDigest = Digest(userFile);
        const QString sources = NewFolder(QStringLiteral("src"));
        const QString first = sources + "/first.mp4";
        const QString second = sources + "/second.mp4";
        QVERIFY(QFile::copy(clip, first) && QFile::copy(clip, second));
        const QByteArray sourceDigest = Digest(clip);

        FaultBatch batch;
        batch.host.outputType = outputType;
        batch.host.folderText = out;
        batch.host.profileRow = 0;
        batch.tasks.Append(ConversionTask::ForSource(first, 3.0));
        batch.tasks.Append(ConversionTask::ForSource(second, 3.0));
        const QByteArray savedPath = qgetenv("PATH");
        rlimit savedLimit{};
        ::getrlimit(RLIMIT_FSIZE, &savedLimit);
        if (f == Fault::ToolMissing)
            qputenv("PATH", dir.filePath("no-tools-here").toUtf8());
        // The limit holds for the log too: this case starts one of its own.
        QTemporaryDir ownProgram;
        if (f == Fault::FileSizeLimit) {
            QVERIFY(MakeProgramFolder(ownProgram.path()));
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = savedLimit;
            limit.rlim_cur = 64 * 1024; // the tools inherit it
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }

        bool done = false;
        batch.host.onRepaint = [&] {
            if (f != Fault::FolderReadOnly || done || batch.tasks.GetAt(0).finished != 1)
                return;
            done = true;
            if (remount)
                Run(QStringLiteral("mount"), {"-o", "remount,ro", out});
            else
                QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner);
        };
        batch.host.onPump = [&] {
            const ConversionTask task = batch.tasks.GetAt(0);
            const int pass = batch.engine.currentPass;
            if (done || batch.engine.currentTaskIndex != 0)
                return;
            const bool encoding = pass == 1 && task.encodedSeconds > 0;
            switch (f) {
            case Fault::FolderRemoved:
                if (!encoding)
                    return;
                QDir(out).removeRecursively();
                break;
            case Fault::SourceRemoved:
                if (!encoding)
                    return;
                QFile::remove(first);
                break;
            case Fault::SourceTruncated:
                if (!encoding)
                    return;
                QFile::resize(first, QFileInfo(first).size() / 3);
                break;
            case Fault::FirstToolKilled:
                if (!encoding)
                    return;
                KillChildren();
                break;
            case Fault::LaterToolKilled:
                if (pass != 2 || ChildProcesses().isEmpty())
                    return;
                KillChildren();
                break;
            default:
                return;
            }
            done = true;
        };
        batch.engine.OnStartClicked();
        qputenv("PATH", savedPath);
        ::setrlimit(RLIMIT_FSIZE, &savedLimit);
        if (f == Fault::FolderReadOnly && !remount)
            QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QString log = ReadLog();
        programFolder = WithTrailingSeparator(dir.filePath("program"));
        const QString sourceOf[] = {first, second};
        QCOMPARE(batch.tasks.GetAt(failedTask).state, int(TASK_FAILED));
        QCOMPARE(batch.tasks.GetAt(failedTask).finished, 0);
        const QString entry = TaskEntry(log, failedTask, sourceOf[failedTask]);
        QVERIFY2(entry.contains(logText), qPrintable(entry.right(900)));
        if (failedTask == 0) {
            QCOMPARE(batch.tasks.GetAt(1).finished, nextConverts ? 1 : 0);
            if (!nextConverts)
                QCOMPARE(batch.tasks.GetAt(1).state, int(TASK_FAILED));
        } else {
            QCOMPARE(batch.tasks.GetAt(0).finished, 1);
        }
        if (f == Fault::FolderRemoved)
            QVERIFY(TaskEntry(log, 1, second).contains("the output folder " + out));

        // Nothing of the failed task is left; the user's files are as they were.
        QStringList expected;
        const auto outputOf = [&](int row) {
            return batch.tasks.GetAt(row).outputName +
                   ConversionEngine::OutputType(outputType)->extension;
        };
        if (QFileInfo::exists(out))
            expected.append("mine.txt");
        if (nextConverts)
            expected.append(outputOf(1));
        if (failedTask == 1)
            expected.append(outputOf(0));
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
        if (QFileInfo::exists(out))
            QCOMPARE(Digest(userFile), userDigest);
        QCOMPARE(Digest(second), sourceDigest);
        if (f != Fault::SourceRemoved && f != Fault::SourceTruncated)
            QCOMPARE(Digest(first), sourceDigest);
        QCOMPARE(ChildProcesses(), QList<int>{});
        QCOMPARE(batch.host.messages.size(), 1); // the batch ends as usual
        QCOMPARE(batch.host.messages.at(0).caption, QStringLiteral("Information"));
    }

    // A file that takes one of a task's names after the batch planned them is someone else's:
    // the task fails without running a tool and the file stays as it was.
    void fileAppearingUnderAPlannedNameIsLeftAlone()
    {
        const QString out = NewFolder();
        Batch batch(1, out);
        batch.host.profileRow = 0;
        batch.Add(clip, 1.0);
        batch.Add(clip, 1.0);
        const QString intruder = out + "/clip (2)_temp.3gp";
        batch.host.onPump = [&] {
            if (!QFileInfo::exists(intruder))
                WriteFile(intruder, 10);
        };
        batch.engine.OnStartClicked();
        QCOMPARE(batch.tasks.GetAt(0).finished, 1);
        QCOMPARE(batch.tasks.GetAt(1).state, int(TASK_FAILED));
        QVERIFY(ReadLog().contains("the file " + intruder + " appeared"));
        QCOMPARE(FilesIn(out), (QStringList{"clip (2)_temp.3gp", "clip.3gp"}));
        QCOMPARE(QFileInfo(intruder).size(), 10);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
