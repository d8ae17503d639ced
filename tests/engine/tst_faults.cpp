// SPDX-License-Identifier: GPL-3.0-or-later
// Faults from outside while a batch runs, with the real tools: the output folder turns
// read-only or goes away, the disk fills in any pass, the source is removed or cut short, a
// tool is killed or missing. Each ends with the task failed (its entry in the log saying why),
// the user's files as they were, no file of the task left that could pass for a converted one,
// no tool left, and the batch going on.
#include "batchfixture.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <csignal>
#include <sys/resource.h>
#include <sys/statvfs.h>
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
    ToolKilled,
    ToolMissing,
};

QByteArray Digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool Run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// A small file system of its own where the machine lets us mount one (as root): real
// "no space left" and a real read-only remount.
bool MountSmallFolder(const QString &folder, const QString &size)
{
    return ::geteuid() == 0 &&
           Run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder});
}

qint64 FreeBytes(const QString &folder)
{
    struct statvfs fs {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

// Fills the file system of `folder` with `filler` until only `room` bytes are free.
bool FillUpTo(const QString &folder, const QString &filler, qint64 room)
{
    const qint64 fill = (FreeBytes(folder) - room) / 4096 * 4096;
    return fill <= 0 || WriteFile(filler, QByteArray(fill, 'u'));
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;
    QString clip;
    QStringList mounts;
    QMap<int, qint64> pass2Size; // per output type: what pass 2 writes of the clip
    int folders = 0;

    QString NewFolder(const QString &prefix = QStringLiteral("out"))
    {
        return NewNumberedFolder(dir, folders, prefix);
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        paths = MakeProgramFolder(dir.filePath("program"));
        QVERIFY(paths.IsValid());
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeToneClip(clip, 3.0, "320x240"));
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
        QTest::addColumn<int>("pass");          // for the disk: the pass that meets it full
        QTest::addColumn<int>("failedTask");    // -1: none fails
        QTest::addColumn<QString>("logText");   // in the failed task's log entry
        QTest::addColumn<bool>("nextConverts"); // the task after it still converts
        // Between two tasks: a file system with a file open for writing cannot be turned
        // read-only, and the tools have ended then.
        QTest::newRow("output folder turns read-only between tasks")
            << int(Fault::FolderReadOnly) << 1 << 0 << 1 << "cannot be written any more" << false;
        QTest::newRow("output folder removed")
            << int(Fault::FolderRemoved) << 1 << 1 << 0 << "No such file or directory" << false;
        const int passes[] = {3, 3, 5};
        for (int type = 0; type < 3; ++type)
            for (int pass = 1; pass <= passes[type]; ++pass) {
                const bool readsOnly = type == 2 && pass == 5;
                // Pass 5 reads only: the disk fills before pass 4, leaving it room.
                // AtomicParsley says nothing of the full disk: writing a new file, the
                // check in pass 5 finds it cut short; rewriting the output in place, it ends
                // with exit code 0 and the read-back check finds the file cut short.
                const bool silent = type == 2 && (pass == 3 || pass == 4);
                const bool lastInPlace = type < 2 && pass == 3;
                QTest::addRow("disk full in pass %d of type %d%s", pass, type,
                              readsOnly     ? ", which only reads: finishes"
                              : silent      ? ", found by the check in pass 5"
                              : lastInPlace ? ", found by the read-back check"
                                            : "")
                    << int(Fault::DiskFull) << type << pass << (readsOnly ? -1 : 0)
                    << (silent        ? "pass            =   5."
                        : lastInPlace ? "file is cut short"
                                      : "No space left")
                    << true;
            }
        QTest::newRow("file-size limit")
            << int(Fault::FileSizeLimit) << 1 << 1 << 0 << "File too large" << false;
        QTest::newRow("source removed")
            << int(Fault::SourceRemoved) << 1 << 1 << 0 << "the source file was removed" << true;
        QTest::newRow("source truncated")
            << int(Fault::SourceTruncated) << 2 << 1 << 0 << "truncated or replaced" << true;
        QTest::newRow("tool killed")
            << int(Fault::ToolKilled) << 0 << 1 << 0 << "ended abnormally" << true;
        QTest::newRow("tool missing from PATH")
            << int(Fault::ToolMissing) << 1 << 1 << 0 << "did not start" << false;
    }
    void faultFailsTheTask()
    {
        QFETCH(int, fault);
        QFETCH(int, outputType);
        QFETCH(int, pass);
        QFETCH(int, failedTask);
        QFETCH(QString, logText);
        QFETCH(bool, nextConverts);
        const Fault f = Fault(fault);
        const OutputType *type = OutputType::Find(outputType);

        // How large the file that pass 2 writes is, to leave room for it and nothing more:
        // its commands run by hand once.
        if (f == Fault::DiskFull && !pass2Size.contains(outputType)) {
            const QString scratch = NewFolder();
            Batch dry(paths, outputType, scratch);
            dry.Add(clip, 3.0);
            dry.engine.PlanOutputNames();
            const QList<QStringList> commands = dry.engine.TaskCommands(0);
            QVERIFY(commands.size() >= 2);
            for (int p = 0; p < 2; ++p)
                QVERIFY(Run(commands[p].first(), commands[p].mid(1)));
            pass2Size[outputType] =
                QFileInfo(scratch + "/" + type->FileName(type->WrittenBy(2).first(), "clip"))
                    .size();
            QVERIFY(pass2Size[outputType] > 0);
        }

        // The user's files: the sources, and one already in the output folder.
        const QString out = NewFolder();
        if (f == Fault::DiskFull) {
            if (!MountSmallFolder(out, "16m"))
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
        QVERIFY(WriteFile(userFile, "the user's own file"));
        const QByteArray userDigest = Digest(userFile);
        const QString sources = NewFolder(QStringLiteral("src"));
        const QString first = sources + "/first.mp4";
        const QString second = sources + "/second.mp4";
        QVERIFY(QFile::copy(clip, first) && QFile::copy(clip, second));
        const QByteArray sourceDigest = Digest(clip);

        // The limit holds for the log too: this case keeps its log elsewhere.
        EnginePaths own = paths;
        const QByteArray savedPath = qgetenv("PATH");
        rlimit savedLimit{};
        ::getrlimit(RLIMIT_FSIZE, &savedLimit);
        if (f == Fault::ToolMissing)
            qputenv("PATH", dir.filePath("no-tools-here").toUtf8());
        if (f == Fault::FileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = savedLimit;
            limit.rlim_cur = 64 * 1024; // the tools inherit it
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        QFile::remove(paths.logFile);

        Batch batch(own, outputType, out);
        batch.Add(first, 3.0);
        batch.Add(second, 3.0);
        if (f == Fault::DiskFull) {
            // A title longer than the room the tools leave for one: the tagging pass has to
            // write the whole file anew rather than in place.
            ConversionTask task = batch.tasks.GetAt(0);
            task.title = QString(1000, QLatin1Char('t'));
            batch.tasks.SetAt(0, task);
            // A tool that hangs on a full disk is ended soon, not after ten minutes.
            batch.engine.SetStallSeconds(3);
        }
        // The disk fills just before the state of the pass shows (and so before its tool
        // starts); a pass that follows one of the same state gets room for that one only.
        const bool sameStateAsBefore = type->StateBeforePass(pass) < 0;
        const int fillState = type->StateBeforePass(sameStateAsBefore ? pass - 1 : pass);
        const qint64 room = sameStateAsBefore ? pass2Size.value(outputType) + 8192 : 0;
        const QString filler = out + "/filler";
        bool done = false;
        bool fillerGone = false;
        batch.host.onProgress = [&](int row) {
            const ConversionTask task = batch.tasks.GetAt(row);
            if (f == Fault::DiskFull && row == 0 && !fillerGone &&
                (task.state == TASK_FAILED || task.finished == 1)) {
                fillerGone = QFile::remove(filler); // the next task has room again
                return;
            }
            if (done)
                return;
            const bool encoding =
                row == 0 && task.state == TASK_ENCODING && task.encodedSeconds > 0;
            switch (f) {
            case Fault::FolderReadOnly:
                if (row != 0 || task.finished != 1)
                    return;
                if (remount)
                    Run(QStringLiteral("mount"), {"-o", "remount,ro", out});
                else
                    QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner);
                break;
            case Fault::DiskFull:
                if (row != 0 || task.state != fillState)
                    return;
                QVERIFY(FillUpTo(out, filler, room));
                break;
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
            case Fault::ToolKilled:
                if (!encoding)
                    return;
                for (int pid : ChildProcesses())
                    ::kill(pid, SIGKILL);
                break;
            default:
                return;
            }
            done = true;
        };
        const bool ended = batch.Run();
        qputenv("PATH", savedPath);
        ::setrlimit(RLIMIT_FSIZE, &savedLimit);
        if (f == Fault::FolderReadOnly && !remount)
            QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(ended, "the batch did not end");

        const QString log = ReadLog(own).replace(QString(1000, QLatin1Char('t')), "<title>");
        if (failedTask >= 0) {
            QCOMPARE(batch.State(failedTask), int(TASK_FAILED));
            QVERIFY(!batch.Finished(failedTask));
            const QString entry = TaskEntry(log, failedTask);
            QVERIFY2(entry.contains(logText), qPrintable(log.right(1500)));
            QVERIFY(!batch.host.failures.value(failedTask).isEmpty());
        } else {
            QVERIFY2(batch.Finished(0), qPrintable(log.right(1500)));
        }
        if (failedTask <= 0) {
            QCOMPARE(batch.Finished(1), nextConverts);
            if (!nextConverts)
                QCOMPARE(batch.State(1), int(TASK_FAILED));
        } else {
            QVERIFY(batch.Finished(0));
        }
        if (f == Fault::FolderRemoved)
            QVERIFY(TaskEntry(log, 1).contains("the output folder " + out));

        // Nothing of a failed task is left; the user's files are as they were.
        // A finished file decodes to its end: no cut-short file passes for a converted one.
        QStringList expected;
        for (int row = 0; row < 2; ++row)
            if (batch.Finished(row)) {
                expected.append(batch.OutputName(row));
                QVERIFY2(Run("ffmpeg", {"-v", "error", "-xerror", "-nostdin", "-i",
                                        batch.OutputOf(row), "-f", "null", "-"}),
                         qPrintable(batch.OutputOf(row) + " does not decode"));
            }
        if (QFileInfo::exists(out))
            expected.append("mine.txt");
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
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
