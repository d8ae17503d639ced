// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-cli as its users run it: the built executable with real files, real tools, real
// signals and a real terminal.
#include "inireader.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString cli = QStringLiteral(KESTRANI_PROGRAM_DIR "/kestrani-cli");

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

Outcome RunCli(const QStringList &arguments, int timeoutMs = 120000, const QString &program = cli,
               const QString &workingFolder = QString(),
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

// Waits (serving events) until the process has printed `text` on standard output.
bool WaitForOutput(QProcess &process, QByteArray &seen, const QByteArray &text, int timeoutMs)
{
    if (!process.waitForStarted(timeoutMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains(text) && clock.elapsed() < timeoutMs &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        seen += process.readAllStandardOutput();
    }
    return seen.contains(text);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;     // 1 s, small
    QString longClip; // long enough to be stopped while its first pass runs
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The stored settings of this test and of the program it starts, never the user's.
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        QVERIFY(QFileInfo(cli).isExecutable());
        clip = dir.filePath("clip.mp4");
        longClip = dir.filePath("long.mp4");
        QVERIFY(MakeToneClip(clip, 1.0, "160x120"));
        QVERIFY(MakeToneClip(longClip, 20.0, "640x480"));
        const auto ffmpeg = [](const QStringList &arguments) {
            return QProcess::execute("ffmpeg",
                                     QStringList{"-v", "error", "-nostdin", "-y"} + arguments) == 0;
        };
        QVERIFY(ffmpeg(
            {"-f", "lavfi", "-i", "sine", "-t", "1", "-c:a", "aac", dir.filePath("sound.m4a")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-t", "1", "-c:v",
                        "libx264", "-f", "h264", dir.filePath("raw.h264")}));
        // A broadcast stream whose sound track carries no packet at all.
        QVERIFY(ffmpeg({"-f",
                        "lavfi",
                        "-i",
                        "testsrc2=size=160x120:rate=25",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=duration=2",
                        "-t",
                        "2",
                        "-map",
                        "0:v",
                        "-map",
                        "1:a",
                        "-c:v",
                        "mpeg2video",
                        "-c:a",
                        "mp2",
                        "-bsf:a:0",
                        "noise=drop=1",
                        "-f",
                        "mpegts",
                        dir.filePath("empty-sound.ts")}));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no files") << QStringList{"-t", "1"};
        QTest::newRow("type out of range") << QStringList{"-t", "3", "x.avi"};
        QTest::newRow("type not a number") << QStringList{"--type", "aac", "x.avi"};
        QTest::newRow("profile 0") << QStringList{"-p", "0", "x.avi"};
        QTest::newRow("profile past the type's last")
            << QStringList{"-t", "2", "-p", "99", "x.avi"};
        QTest::newRow("begin not a number") << QStringList{"-b", "abc", "x.avi"};
        QTest::newRow("negative end") << QStringList{"-e", "-1", "x.avi"};
        QTest::newRow("end before begin") << QStringList{"-b", "2", "-e", "1", "x.avi"};
        QTest::newRow("unknown option") << QStringList{"--fast", "x.avi"};
        QTest::newRow("option without its value") << QStringList{"x.avi", "-o"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Outcome outcome = RunCli(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.contains("Try 'kestrani-cli --help'."), qPrintable(outcome.err));
        QCOMPARE(outcome.out, QString());
    }

    void helpAndVersion()
    {
        const Outcome help = RunCli({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: kestrani-cli [-t TYPE] [-p PROFILE] [-o FOLDER]"));
        QVERIFY(help.out.contains("--print-commands"));
        const Outcome version = RunCli({"--version"});
        QCOMPARE(version.exitCode, 0);
        QVERIFY(QRegularExpression("^kestrani-cli \\d+\\.\\d+\\.\\d+\nLicense GPLv3\\+: GNU GPL "
                                   "version 3 or later <https://gnu.org/licenses/gpl.html>\n$")
                    .match(version.out)
                    .hasMatch());
    }

    // Each type with its item text, description and numbered titles; the default marked.
    void listProfiles()
    {
        const Outcome outcome = RunCli({"--list-profiles"});
        QCOMPARE(outcome.exitCode, 0);
        const char *files[] = {"3GP_AMR_Profile.ini", "3GP_AAC_Profile.ini",
                               "3GP2_AAC_Profile.ini"};
        const char *items[] = {"Cell Phone 3GP  files (3GP + AMR)",
                               "Cell Phone 3GP  files (3GP + AAC)",
                               "Cell Phone 3GP2 files (3GP2 + AAC)"};
        for (int type = 0; type < 3; ++type) {
            CIniReader ini;
            ini.SetFile(QStringLiteral(KESTRANI_PROGRAM_DIR "/app/") + files[type]);
            QStringList sections;
            ini.GetSectionNames(sections);
            QString expected = QStringLiteral("%1  %2\n   %3\n")
                                   .arg(type)
                                   .arg(items[type], ini.GetString("Info", "Description"));
            const int defaultRow = ini.GetString("Info", "DefaultProfile").toInt() - 1;
            for (int row = 0; row + 1 < sections.size(); ++row)
                expected += QStringLiteral("   %1 %2  %3\n")
                                .arg(row == defaultRow ? '*' : ' ')
                                .arg(row + 1, 2)
                                .arg(ini.GetString(sections[row + 1], "Title"));
            QVERIFY2(outcome.out.contains(expected), qPrintable(outcome.out + "\n" + expected));
        }
    }

    // One JSON array per pass, programs found, outputs under names that clash with nothing;
    // nothing runs and nothing is written.
    void printCommands_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("passes");
        QTest::addColumn<QString>("extension");
        QTest::newRow("3GP with AMR") << 0 << 3 << ".3gp";
        QTest::newRow("3GP with AAC") << 1 << 3 << ".3gp";
        QTest::newRow("3G2 with AAC") << 2 << 5 << ".3g2";
    }
    void printCommands()
    {
        QFETCH(int, type);
        QFETCH(int, passes);
        QFETCH(QString, extension);
        const QString out = NewFolder();
        QFile own(out + "/clip" + extension);
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.close();
        const QString dashed = dir.filePath("-dash.mp4");
        QFile::copy(clip, dashed);
        const Outcome outcome = RunCli({"-t", QString::number(type), "-o", out, "-b", "0.5",
                                        "--print-commands", "--", clip, dashed});
        QCOMPARE(outcome.exitCode, 0);
        const QStringList lines = outcome.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 * passes);
        QStringList all;
        for (const QString &line : lines) {
            const QJsonDocument json = QJsonDocument::fromJson(line.toUtf8());
            QVERIFY(json.isArray());
            QStringList arguments;
            for (const QJsonValue &value : json.array())
                arguments.append(value.toString());
            QVERIFY(QFileInfo(arguments.value(0)).isExecutable());
            all += arguments;
        }
        const QString joined = all.join('\n');
        QVERIFY(joined.contains(out + "/clip (2)" + extension));
        QVERIFY(joined.contains(out + "/-dash" + extension));
        QVERIFY(joined.contains(out + "/clip (2)_temp.3gp"));
        QVERIFY(joined.contains("0.500")); // the trim reaches the commands
        QCOMPARE(FilesIn(out), QStringList{"clip" + extension});
    }

    // State lines per task, exit 1 when one task failed, outputs where they belong.
    void convertsAndReports()
    {
        const QString out = NewFolder();
        const QString broken = QStringLiteral(KESTRANI_MEDIA_DIR "/broken.mp4");
        const Outcome outcome = RunCli({"-t", "0", "-p", "1", "-o", out, broken, clip});
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.out, QStringLiteral("[1/2] broken.mp4 -> broken.3gp: Failed\n"
                                             "[2/2] clip.mp4 -> clip.3gp: Encoding\n"
                                             "[2/2] clip.mp4 -> clip.3gp: Exporting\n"
                                             "[2/2] clip.mp4 -> clip.3gp: Finished\n"));
        // Why, in our words, where the log is, and the count as the last line.
        QVERIFY2(outcome.err.contains("broken.mp4 -> broken.3gp: failed: nothing to convert"),
                 qPrintable(outcome.err));
        QVERIFY(outcome.err.contains("the log has the details: "));
        QVERIFY(outcome.err.endsWith(
            "kestrani-cli: Information: 1 of 2 videos failed: see the Progress column\n"));
        QCOMPARE(FilesIn(out), QStringList{"clip.3gp"});

        const Outcome good = RunCli({"-t", "2", "-p", "1", "-o", out, "-b", "0.2", clip});
        QCOMPARE(good.exitCode, 0);
        QVERIFY(good.out.endsWith("[1/1] clip.mp4 -> clip.3g2: Finished\n"));
        QVERIFY(good.err.endsWith("kestrani-cli: Information: Converting Finished\n"));
        QCOMPARE(FilesIn(out), (QStringList{"clip.3g2", "clip.3gp"}));
    }

    // Sources a phone user has: each converts whole, or fails saying why in plain words.
    void sourcesConvertOrSayWhy_data()
    {
        QTest::addColumn<QString>("source"); // made by initTestCase, or a sample
        QTest::addColumn<QStringList>("trim");
        QTest::addColumn<QString>("said"); // on standard error; empty: it converts
        const QString media = QStringLiteral(KESTRANI_MEDIA_DIR "/");
        QTest::newRow("phone 3GP with several AMR frames to a packet")
            << media + "filetype_fixture2.3gp" << QStringList{"-b", "2", "-e", "5"} << QString();
        QTest::newRow("broadcast stream whose sound track is empty")
            << dir.filePath("empty-sound.ts") << QStringList() << QString();
        QTest::newRow("sound alone") << dir.filePath("sound.m4a") << QStringList()
                                     << "failed: the source has no video stream";
        QTest::newRow("length unknown, no end given")
            << dir.filePath("raw.h264") << QStringList() << "its length cannot be read";
        QTest::newRow("a begin past the end")
            << clip << QStringList{"-b", "5", "-e", "6"} << "failed: nothing to convert";
    }
    void sourcesConvertOrSayWhy()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, trim);
        QFETCH(QString, said);
        const QString out = NewFolder();
        for (const char *type : {"0", "1"}) {
            const Outcome outcome =
                RunCli(QStringList{"-t", type, "-o", out} + trim + QStringList{source});
            QCOMPARE(outcome.exitCode, said.isEmpty() ? 0 : 1);
            if (said.isEmpty()) {
                QVERIFY2(outcome.out.endsWith(": Finished\n"), qPrintable(outcome.err));
            } else {
                QVERIFY2(outcome.err.contains(said), qPrintable(outcome.err));
                QVERIFY(
                    !outcome.err.contains("trailing '?'")); // the tool's advice stays in the log
            }
        }
        QCOMPARE(FilesIn(out).size(), said.isEmpty() ? 2 : 0);
    }

    // Without -o, the folder the window stores.
    void storedDestinationIsTheDefault()
    {
        const QString out = NewFolder();
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani",
                               "Kestrani");
            settings.setValue("destination/Default", out + "/");
        }
        const Outcome outcome = RunCli({"-t", "1", "-p", "1", clip});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(FilesIn(out), QStringList{"clip.3gp"});
    }

    // The program's own folder is where its profiles and tools are, or it refuses: never the
    // folder it was started in, whatever lies there.
    void programFolderFoundNeverGuessed()
    {
        const QString alone = NewFolder();
        QVERIFY(QFile::copy(cli, alone + "/kestrani-cli"));
        const QString work = NewFolder(); // profiles, a tool named like ours, no log yet
        QVERIFY(QDir(work).mkpath("app"));
        for (const char *name : {"3GP_AMR_Profile.ini", "ffmpeg"}) {
            QVERIFY(QFile::copy(QStringLiteral(KESTRANI_PROGRAM_DIR "/app/3GP_AMR_Profile.ini"),
                                work + "/" + QString::fromLatin1(name)));
        }
        QFile::setPermissions(work + "/ffmpeg", QFile::ReadOwner | QFile::ExeOwner);
        const QString out = NewFolder();
        const Outcome refused = RunCli({"-o", out, clip}, 30000, alone + "/kestrani-cli", work);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(alone + "/app"), qPrintable(refused.err));
        QCOMPARE(FilesIn(out), QStringList());
        QVERIFY(!QFile::exists(work + "/log.txt") && !QFile::exists(work + "/app/log.txt"));
        // Beside its app folder it converts, with the ffmpeg of PATH, not the one here.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", ".:" + env.value("PATH"));
        const Outcome converted =
            RunCli({"-t", "0", "-p", "1", "-o", out, clip}, 60000, cli, work, env);
        QCOMPARE(converted.exitCode, 0);
        QCOMPARE(FilesIn(out), QStringList{"clip.3gp"});
    }

    // Without a journal a killed batch could not be cleaned up later: the user hears of it
    // before the batch, which still runs.
    void unwritableJournalIsSaidBeforeTheBatch()
    {
        const QString out = NewFolder();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", "/proc/kestrani-nowhere");
        const Outcome outcome =
            RunCli({"-t", "0", "-p", "1", "-o", out, clip}, 60000, cli, QString(), env);
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.err.startsWith("kestrani-cli: Warning: The batch journal cannot be kept"),
                 qPrintable(outcome.err));
        QCOMPARE(FilesIn(out), QStringList{"clip.3gp"});
    }

    void outputFolderMissing()
    {
        const QString missing = dir.filePath("missing");
        const Outcome outcome = RunCli({"-o", missing, clip});
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.err, QStringLiteral("kestrani-cli: Error: The output directory \"%1\" "
                                             "does not exist\n")
                                  .arg(missing));
        QCOMPARE(outcome.out, QString());
    }

    // Ctrl-C (and the other polite signals) during the first pass: Stop, exit 128 + signal,
    // no file and no tool left.
    void signalStopsTheBatch_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("terminate") << int(SIGTERM);
    }
    void signalStopsTheBatch()
    {
        QFETCH(int, signal);
        const QString out = NewFolder();
        QProcess process;
        process.start(cli, {"-t", "1", "-p", "5", "-o", out, longClip, clip});
        QByteArray seen;
        QVERIFY(WaitForOutput(process, seen, "Encoding", 30000));
        QTest::qWait(300); // let it write part of its file
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        seen += process.readAllStandardOutput();
        QVERIFY2(seen.endsWith("[1/2] long.mp4 -> long.3gp: Canceled\n"), seen.constData());
        QCOMPARE(FilesIn(out), QStringList{});
        QCOMPARE(ProcessesUsing(out), QStringList{});
    }

    // Even a program killed outright takes its tools with it.
    void noToolOutlivesAKilledProgram()
    {
        const QString out = NewFolder();
        QProcess process;
        process.start(cli, {"-t", "1", "-p", "5", "-o", out, longClip});
        QByteArray seen;
        QVERIFY(WaitForOutput(process, seen, "Encoding", 30000));
        QTest::qWait(200);
        QVERIFY(!ProcessesUsing(out).isEmpty());
        process.kill();
        QVERIFY(process.waitForFinished(5000));
        QElapsedTimer clock;
        clock.start();
        while (!ProcessesUsing(out).isEmpty() && clock.elapsed() < 5000)
            QTest::qWait(50);
        QCOMPARE(ProcessesUsing(out), QStringList{});
    }

    // On a terminal the running pass shows its Progress text on one rewritten line.
    void liveProgressOnATerminal()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray slave = ::ptsname(master);
        const QString out = NewFolder();
        QProcess process;
        process.setChildProcessModifier([slave] {
            const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY);
            if (fd >= 0)
                ::dup2(fd, STDOUT_FILENO);
        });
        process.start(cli, {"-t", "1", "-p", "1", "-o", out, "-e", "8", longClip});
        // Read the terminal until the program has ended and nothing is left to read.
        QByteArray terminal;
        for (bool ended = false;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, ended ? 0 : 100) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                terminal.append(buffer, n);
            } else if (ended) {
                break;
            }
            ended = ended || process.waitForFinished(0) || process.state() == QProcess::NotRunning;
        }
        ::close(master);
        QCOMPARE(process.exitCode(), 0);
        const QRegularExpression live(
            "\r\\[1/1\\] long.mp4 -> long.3gp  \\d\\d:\\d\\d:\\d\\d  \\d+\\.\\d\\dMB  "
            "\\d+\\.\\d\\dFrames/s  %\\d+ \x1b\\[K");
        QVERIFY2(live.match(QString::fromUtf8(terminal)).hasMatch(), terminal.constData());
        QVERIFY(terminal.contains("[1/1] long.mp4 -> long.3gp: Finished"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
