// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile input through the real kestrani-cli: file names with every character a file system
// allows, and profile files full of shell syntax. A name is data for exactly one argument, a
// profile is data for exactly the arguments its template spells, and no shell ever runs.
// The program runs from a private copy of its folder, so its log and its current directory
// (the app folder, where the tools start) belong to this test alone.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "outputnameplanner.h"
#include "testfiles.h"

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct Outcome {
    int exitCode = -1; // -1: ended by a signal or killed after the time limit
    QByteArray out, err;
};

using Commands = QList<QStringList>;

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs a program with arguments as raw bytes: QProcess takes QStrings, which cannot carry a
// file name that is not UTF-8.
Outcome RunRaw(const QByteArray &program, const QList<QByteArray> &arguments,
               const QString &scratch)
{
    const QByteArray outPath = QFile::encodeName(scratch + "/stdout");
    const QByteArray errPath = QFile::encodeName(scratch + "/stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    QList<QByteArray> all{program};
    all += arguments;
    std::vector<char *> argv;
    for (QByteArray &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (rc != 0)
        return outcome;
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; waited += 20) {
        if (waited > 120000) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return outcome;
        }
        ::usleep(20000);
    }
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    outcome.out = ReadAll(scratch + "/stdout");
    outcome.err = ReadAll(scratch + "/stderr");
    return outcome;
}

Commands ParseCommands(const QByteArray &printed)
{
    Commands commands;
    for (const QByteArray &line : printed.split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList arguments;
        for (const QJsonValue &v : QJsonDocument::fromJson(line).array())
            arguments.append(v.toString());
        commands.append(arguments);
    }
    return commands;
}

Commands Replaced(Commands commands, const QString &from, const QString &to)
{
    for (QStringList &arguments : commands)
        for (QString &a : arguments)
            a.replace(from, to);
    return commands;
}

// Every entry below a folder by its raw name relative to it; Qt's own listing would show a
// name that is not UTF-8 under another name.
QSet<QByteArray> Tree(const QByteArray &folder, const QByteArray &prefix = QByteArray())
{
    QSet<QByteArray> names;
    DIR *d = ::opendir(folder.constData());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        names.insert(prefix + name);
        if (e->d_type == DT_DIR)
            names += Tree(folder + "/" + name, prefix + name + "/");
    }
    ::closedir(d);
    return names;
}

QSet<QByteArray> Tree(const QString &folder)
{
    return Tree(QFile::encodeName(folder));
}

bool CopyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &entry :
         QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + entry.fileName();
        if (entry.isDir() ? !CopyFolder(entry.filePath(), target)
                          : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

bool MakeClip(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                  "testsrc2=size=160x120:rate=15", "-f", "lavfi", "-i", "sine=sample_rate=22050",
                  "-t", "0.6", "-c:v", "mpeg4", "-c:a", "aac", "file:" + path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

// A copy of a file under a raw name, created with the system calls themselves.
bool CopyAs(const QByteArray &content, const QByteArray &rawPath)
{
    const int fd = ::open(rawPath.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && ok;
}

QByteArray RawRead(const QByteArray &rawPath)
{
    QByteArray data;
    const int fd = ::open(rawPath.constData(), O_RDONLY);
    if (fd < 0)
        return data;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    ::close(fd);
    return data;
}

} // namespace

class TestInputSecurity : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString program; // the private program folder
    QByteArray cli;
    QByteArray clipBytes;
    int cases = 0;

    QString NewFolder(const QString &name)
    {
        const QString folder = dir.filePath(QStringLiteral("%1-%2").arg(name).arg(++cases));
        QDir().mkpath(folder);
        return folder;
    }
    QString AppFolder() const { return program + "/app"; }
    // A private copy of the program with its own app folder, so a test may replace a profile.
    static bool MakeProgramFolder(const QString &folder)
    {
        return QDir().mkpath(folder) &&
               QFile::copy(KESTRANI_PROGRAM_DIR "/kestrani-cli", folder + "/kestrani-cli") &&
               CopyFolder(KESTRANI_PROGRAM_DIR "/app", folder + "/app") &&
               (!QFile::exists(folder + "/app/log.txt") || QFile::remove(folder + "/app/log.txt"));
    }
    QByteArray Log() const { return ReadAll(AppFolder() + "/log.txt"); }
    Outcome Cli(const QList<QByteArray> &arguments) { return RunRaw(cli, arguments, dir.path()); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        program = dir.filePath("program");
        QVERIFY(MakeProgramFolder(program));
        cli = QFile::encodeName(program + "/kestrani-cli");
        const QString clip = dir.filePath("clip.mp4");
        QVERIFY(MakeClip(clip));
        clipBytes = ReadAll(clip);
    }

    // Every pass gets exactly the arguments it gets for a plain name, with the name in place
    // of the plain one and nothing else changed; then the real conversion finishes (or, where
    // the system cannot hold the names the batch needs, fails cleanly) and touches nothing but
    // its own output.
    void hostileFileNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("outputType");
        QTest::addColumn<bool>("mustConvert");
        const auto row = [](const char *title, const QByteArray &name, int type = 0,
                            bool must = true) { QTest::newRow(title) << name << type << must; };
        row("single quotes", "it's 'quoted'.mp4");
        row("double quotes", "say \"cheese\".mp4", 1);
        row("backslashes", "back\\slash\\.mp4", 2);
        row("variable names", "$OUTPUT_FILE $INPUT_FILE$TITLE.mp4");
        row("variable name as the whole base", "$OUTPUT_DIR.mp4", 2);
        row("command substitution", "$(touch pwned) `touch pwned`.mp4");
        row("exclamation mark", "bang!!.mp4", 1);
        row("semicolon and pipe", "a; touch pwned | cat > x.mp4");
        row("newline", "first\nsecond.mp4", 1);
        row("tab and carriage return", "tab\there\r.mp4");
        row("leading dash", "-y -i evil.mp4", 2);
        row("leading double dash", "--help.mp4");
        row("protocol prefix", "pipe:1.mp4");
        row("placeholders of formatting", "%1 %2 %s %n.mp4", 1);
        row("glob characters", "*?[a-z]{x}.mp4");
        row("blanks around", "  spaced out  .mp4");
        row("UTF-8", "ünïcödé 日本語 🎬.mp4", 2);
        row("many dots", "..a..b...mp4");
        // The batch's intermediate names add up to 7 bytes to the base name, and the title
        // tool's temporary file up to 13 more.
        row("long name, intermediates fit", QByteArray(NAME_MAX - 30, 'L') + ".mp4", 2);
        // Shortened to fit: its start kept, its intermediates and the tools' scratch files fit.
        row("name at NAME_MAX", QByteArray(NAME_MAX - 4, 'M') + ".mp4", 0);
        row("UTF-8 name at NAME_MAX",
            QByteArray("\xF0\x9F\x8E\xAC").repeated(NAME_MAX / 4 - 1) + ".mp4", 1);
        row("not UTF-8", "bad \xff\xfe\xc3( bytes.mp4", 0, false);
    }

    void hostileFileNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, outputType);
        QFETCH(bool, mustConvert);
        const QString source = NewFolder("source");
        const QString output = NewFolder("output");
        const QByteArray rawSource = QFile::encodeName(source) + "/" + name;
        QVERIFY(CopyAs(clipBytes, rawSource));
        const QString reference = source + "/KESTRANIREF.mp4";
        QVERIFY(QFile::copy(dir.filePath("clip.mp4"), reference));
        const QList<QByteArray> options{"-t", QByteArray::number(outputType), "-o",
                                        QFile::encodeName(output)};
        const QString path = QString::fromUtf8(rawSource); // as the program reads its argument
        const QString title = path.mid(source.size() + 1).section(QLatin1Char('.'), 0, -2);
        const QString base =
            OutputNamePlanner::Numbered(title, 1, OutputNamePlanner::MaxBaseBytes(output));

        const Outcome printed =
            Cli(options + QList<QByteArray>{"--print-commands", "--", rawSource});
        const Outcome plain = Cli(
            options + QList<QByteArray>{"--print-commands", "--", QFile::encodeName(reference)});
        QCOMPARE(plain.exitCode, 0);
        if (mustConvert || printed.exitCode == 0) {
            QCOMPARE(printed.exitCode, 0);
            const Commands expected =
                Replaced(Replaced(Replaced(ParseCommands(plain.out), reference, path),
                                  output + "/KESTRANIREF", output + "/" + base),
                         "KESTRANIREF", title);
            QCOMPARE(ParseCommands(printed.out), expected);
        } else {
            QCOMPARE(printed.exitCode, 1);
            QVERIFY(printed.out.isEmpty());
        }
        QVERIFY(QFile::remove(reference));

        const QSet<QByteArray> appBefore = Tree(AppFolder()) - QSet<QByteArray>{"log.txt"};
        const QByteArray logBefore = Log();
        const Outcome run = Cli(options + QList<QByteArray>{"--", rawSource});
        const QSet<QByteArray> outputs = Tree(output);
        if (run.exitCode == 0) {
            const QByteArray extension = outputType == 2 ? ".3g2" : ".3gp";
            QCOMPARE(outputs, QSet<QByteArray>{base.toUtf8() + extension});
            QVERIFY(QFileInfo(output + "/" + base + QString::fromLatin1(extension)).size() > 0);
        } else {
            QVERIFY2(!mustConvert, run.err.constData());
            QCOMPARE(run.exitCode, 1);
            QVERIFY(run.out.contains(": Failed\n"));
            QVERIFY(Log().size() > logBefore.size());
            QVERIFY2(outputs.isEmpty(), outputs.values().join(", ").constData());
        }
        // The source is untouched, nothing appeared beside it or where the tools run.
        QCOMPARE(Tree(source), QSet<QByteArray>{name});
        QVERIFY(RawRead(rawSource) == clipBytes);
        QCOMPARE(Tree(AppFolder()) - QSet<QByteArray>{"log.txt"}, appBefore);
        QCOMPARE(::unlink(rawSource.constData()), 0); // Qt could not remove a name not in UTF-8
    }

    // Templates, titles and descriptions full of shell syntax are data: each word of a
    // template reaches the tool as one literal argument, and only the tools it names run.
    void profileWithShellSyntax()
    {
        const QString folder = dir.filePath("shell-program");
        QVERIFY(MakeProgramFolder(folder));
        const QString app = folder + "/app";
        QFile profile(app + "/3GP_AMR_Profile.ini");
        QVERIFY(profile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        profile.write(
            "[Info]\n"
            "Description=$(touch description-ran) `touch description-ran`\n"
            "DefaultProfile=1\n"
            "[Profile1]\n"
            "Title=Shell? $(touch title-ran); rm -rf ~ | cat && echo || true > x\n"
            "Pass1=touch \"$OUTPUT_DIR$OUTPUT_FILE_temp.3gp\" ; touch ran-semicolon && touch "
            "ran-and || touch ran-or | touch ran-pipe $(touch ran-dollar) `touch ran-backtick` > "
            "ran-redirect 2>&1 & touch ran-background $HOME ~ * 'single quoted'\n"
            "Pass2=ffmpeg -v error -nostdin -y -i \"file:$INPUT_FILE\" -c copy -f 3gp "
            "\"file:$OUTPUT_DIR$OUTPUT_FILE.3gp\"\n"
            "Pass3=touch \"$OUTPUT_DIR$OUTPUT_FILE.3gp\"\n");
        profile.close();
        const QByteArray shellCli = QFile::encodeName(folder + "/kestrani-cli");
        const QSet<QByteArray> appBefore = Tree(app);

        const Outcome listed = RunRaw(shellCli, {"--list-profiles"}, dir.path());
        QCOMPARE(listed.exitCode, 0);
        QVERIFY(listed.out.contains("$(touch description-ran) `touch description-ran`"));
        QVERIFY(
            listed.out.contains("Shell? $(touch title-ran); rm -rf ~ | cat && echo || true > x"));
        QCOMPARE(Tree(app), appBefore);

        const QString output = NewFolder("shell-output");
        const QString source = dir.filePath("shell source.mp4");
        QVERIFY(QFile::copy(dir.filePath("clip.mp4"), source));
        const QByteArrayList options{"-o", QFile::encodeName(output), "--",
                                     QFile::encodeName(source)};
        const Outcome printed =
            RunRaw(shellCli, QByteArrayList{"--print-commands"} + options, dir.path());
        QCOMPARE(printed.exitCode, 0);
        // Every word after the first file name, as the tool must get it: one literal
        // argument per blank-separated word, quotes other than double quotes kept.
        const QStringList literal =
            QStringLiteral("; touch ran-semicolon && touch ran-and || touch ran-or | touch "
                           "ran-pipe $(touch ran-dollar) `touch ran-backtick` > ran-redirect "
                           "2>&1 & touch ran-background $HOME ~ * 'single quoted'")
                .split(QLatin1Char(' '));
        const Commands commands = ParseCommands(printed.out);
        QCOMPARE(commands.size(), 3);
        QCOMPARE(commands[0].mid(2), literal);
        QCOMPARE(commands[0][1], output + "/shell source_temp.3gp");

        const Outcome run = RunRaw(shellCli, options, dir.path());
        QCOMPARE(run.exitCode, 0);
        // touch made exactly one file per literal word where the tools run, and nothing ran
        // that only a shell would have started.
        QSet<QByteArray> made;
        for (const QString &word : literal)
            made.insert(word.toUtf8());
        QCOMPARE(Tree(app) - appBefore - QSet<QByteArray>{"log.txt"}, made);
        QCOMPARE(Tree(output), QSet<QByteArray>{"shell source.3gp"});
        QVERIFY(!QFile::exists(dir.filePath("x")) && !QFile::exists(app + "/title-ran"));
    }

    // The log is a file of the user's: created with the permissions the user's umask allows,
    // neither wider nor narrower.
    void logHonoursUmask_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
        QTest::newRow("umask 002") << 002;
    }

    void logHonoursUmask()
    {
        QFETCH(int, mask);
        const QString folder = NewFolder("umask-program");
        QVERIFY(MakeProgramFolder(folder));
        const QString source = folder + "/not a video.mp4";
        QFile text(source);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("plain text, no pictures\n");
        text.close();
        Outcome run;
        {
            const Umask restricted{mode_t(mask & 0777)};
            run = RunRaw(QFile::encodeName(folder + "/kestrani-cli"),
                         {"-o", QFile::encodeName(NewFolder("umask-output")), "--",
                          QFile::encodeName(source)},
                         dir.path());
        }
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(ModeOf(folder + "/app/log.txt"), mode_t(0666 & ~mask));
    }
};

QTEST_GUILESS_MAIN(TestInputSecurity)
#include "tst_inputsecurity.moc"
