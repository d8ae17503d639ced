// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-cli as its users run it, from a program folder of the test's own (its log and the
// folder its tools start in are the test's): what it prints and returns for each option, what
// it leaves on disk, and what it never runs, whatever names and files it is given.
#include "engine.h"
#include "files/bytenames.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <csignal>

using namespace support;

namespace {

struct Source {
    const char *row;
    QByteArray name;
    int converts;            // 1 converts, 0 fails
    QByteArray content = {}; // null: the clip
    QByteArray Bytes(const QString &c) const { return content.isNull() ? Contents(c) : content; }
};

// Names with every character a file system allows, and files that are no video at all.
const QList<Source> hostile = {
    {"quotes and backslashes", "it's \"quoted\" back\\slash\\.mp4", 1},
    {"shell syntax", "$(touch pwned) `touch pwned`; a | cat > x & *?[a-z]{x} !!.mp4", 1},
    {"template variables, placeholders", "$OUTPUT_FILE $TITLE$INPUT_FILE %1 %s.mp4", 1},
    {"newline, tab, carriage return", "first\nsecond\tthird\r.mp4", 1},
    {"leading dash, like options", "-y -i evil.mp4", 1},
    {"protocol prefix, blanks around", "  pipe:1  .mp4", 1},
    {"UTF-8", "ünïcödé 日本語 🎬.mp4", 1},
    {"name at NAME_MAX, shortened", QByteArray(NAME_MAX - 4, 'M') + ".mp4", 1},
    {"UTF-8 name at NAME_MAX", QByteArray("\xF0\x9F\x8E\xAC").repeated(62) + ".mp4", 1},
    {"not UTF-8", "bad \xff\xfe\xc3( bytes.mp4", 1},
    {"text full of shell syntax", "text.mp4", 0, "$(touch pwned)\n`touch pwned` ; rm -rf ~\n"},
    {"empty file", "empty.mp4", 0, ""},
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QString program, cli, log, clip, subtitles, alone, names, namesOut, namesOutParent;
    QString ffmpegOnly; // a folder with ffmpeg and no other tool, for PATH
    const QString broken = QFileInfo(MediaFile("broken.mp4")).canonicalFilePath();
    const QString phone = MediaFile("filetype_fixture2.3gp"),
                  window = KESTRANI_PROGRAM_DIR "/kestrani";
    ToolResult batch; // of the hostile sources in `names`
    QStringList namesBefore, appBefore;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        for (const char *home : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) // never the user's
            qputenv(home, dir.filePath(home).toUtf8());
        alone = NewFolder(dir, folders, "alone"); // no app/ beside it
        ffmpegOnly = NewFolder(dir, folders, "bin");
        QVERIFY(QFile::link(QStandardPaths::findExecutable("ffmpeg"), ffmpegOnly + "/ffmpeg"));
        QVERIFY(MakeProgramFolder(program = dir.filePath("program")).IsValid());
        cli = program + "/kestrani-cli", log = program + "/app/log.txt";
        QVERIFY(QFile::copy(cliProgram, cli) && QFile::copy(cliProgram, alone + "/kestrani-cli"));
        // One whose log cannot be written, a folder standing at its name.
        QVERIFY(MakeProgramFolder(dir.filePath("logless")).IsValid() &&
                QDir().mkpath(dir.filePath("logless/app/log.txt")) &&
                QFile::copy(cliProgram, dir.filePath("logless/kestrani-cli")));
        QVERIFY(!(clip = SharedClip()).isEmpty());
        subtitles = QFileInfo(clip).path() + "/clip.srt"; // beside the clip: --subtitles finds it
        QVERIFY(WriteFile(subtitles, "1\n00:00:00,200 --> 00:00:00,800\nHello\n"));

        // One batch of every hostile source, named by the shell's own expansion, which passes
        // names on as the raw bytes they are, into a folder whose name is not UTF-8 either
        // (Latin-1 "café": the test reads it through a link). It starts where tools named like
        // the real ones lie, in the folder and in one that PATH names relatively: they must
        // not be taken.
        names = NewFolder(dir, folders, "names");
        const QString outParent = namesOutParent = NewFolder(dir, folders);
        const QByteArray latin1Out = QFile::encodeName(outParent) + "/caf\xe9";
        namesOut = outParent + "/café";
        QVERIFY(::mkdir(latin1Out.constData(), 0777) == 0 &&
                ::symlink(latin1Out.constData(), QFile::encodeName(namesOut).constData()) == 0);
        QVERIFY(QDir(names).mkdir("bin"));
        for (const char *tool : {"/ffmpeg", "/AtomicParsley", "/bin/ffmpeg", "/bin/AtomicParsley"})
            QVERIFY(WriteFile(names + tool, "#!/bin/sh\ntouch '" + names.toUtf8() + "/ran'\n") &&
                    QFile::setPermissions(names + tool, QFile::Permissions(0x7000))); // rwx------
        for (const Source &s : hostile) // renamed to raw bytes, which a QString cannot carry
            QVERIFY(WriteFile(names + "/new", s.Bytes(clip)) &&
                    ::rename(QFile::encodeName(names + "/new").constData(),
                             (QFile::encodeName(names) + '/' + s.name).constData()) == 0);
        namesBefore = FilesIn(names), appBefore = FilesIn(program + "/app");
        const QString command = "cd \"$0\" && PATH=.:bin::$PATH exec \"$1\" -p 1 -j 2 -e 0.5 -o "
                                "\"$2/$(printf 'caf\\351')\" -- *.mp4";
        batch = RunTool("/bin/sh", {"-c", command, names, cli, outParent});
    }

    void cleanupTestCase() // QDir cannot remove a name that is not UTF-8
    {
        QVERIFY(RunTool("/bin/sh", {"-c", "rm -r \"$0\"", namesOutParent}).ok());
    }

    // The batch of hostile sources ran nothing it should not have: not the tools beside the
    // sources, nothing beside them or where the tools start; it left only finished outputs.
    void hostileBatchRunsNothingElse()
    {
        QCOMPARE(FilesIn(names), namesBefore);
        QCOMPARE(FilesIn(program + "/app"), appBefore + QStringList{"log.txt"});
        QCOMPARE(FilesIn(namesOut).size(), batch.out.count(": Finished\n"));
    }

    void options_data()
    {
        QTest::addColumn<QString>("arguments"); // split at blanks outside double quotes; a
                                                // program's path may come first
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");   // "stdout§stderr", where "…" stands for any text
        QTest::addColumn<QStringList>("files"); // in @OUT, where the program starts
        const auto row = [](const char *name, const char *arguments, int exitCode,
                            const QStringList &files, const QString &printed) {
            QTest::newRow(name) << arguments << exitCode << printed << files;
        };
        const QString usage = "§kestrani-cli: %1\nTry 'kestrani-cli --help'.\n";
        row("no video files", "-t 1", 2, {}, usage.arg("no video files given"));
        row("type 3", "-t 3 @CLIP", 2, {}, usage.arg("the output type must be 0, 1 or 2"));
        row("profile 5 of type 2", "-t 2 -p 5 @CLIP", 2, {}, usage.arg("type 2 has no profile 5"));
        row("begin 1,5", "-b 1,5 @CLIP", 2, {},
            usage.arg("the begin must be a number of seconds, 0 or more"));
        row("-b 1 -e 1", "-b 1 -e 1 @CLIP", 2, {}, usage.arg("the end must come after the begin"));
        row("negative jobs", "-j -1 @CLIP", 2, {},
            usage.arg("the number of files at once must be 0 or more"));
        row("a profile number no int holds: too large", "-p 99999999999999999999 @CLIP", 2, {},
            usage.arg("the profile number 99999999999999999999 is too large"));
        row("--max-size 2K: too small for any video", "--max-size 2K @CLIP", 2, {},
            usage.arg("2 KB is too small: no profile fits even a second of video in it (at "
                      "least 5 KB)"));
        row("--max-size 300Q: not a size, refused before anything runs", "--max-size 300Q @CLIP", 2,
            {}, usage.arg("\"300Q\" is not a size: write it as 300K, 1M or a number of bytes"));
        row("--loudness=-40: outside -30 to -10", "--loudness=-40 @CLIP", 2, {},
            usage.arg("the loudness must be a number of LUFS from -30 to -10"));
        row("--subtitles FILE with two videos", "--subtitles a.srt @CLIP @CLIP", 2, {},
            usage.arg("--subtitles FILE names the subtitles of one video, but 2 videos are "
                      "given"));
        row("--subtitles: the file beside the video burned in, only the output left",
            "-t 1 -p 1 -e 1 -o @OUT --subtitles @CLIP", 0, {"clip.3gp"},
            "…Finished\n§…Converting Finished\n");
        row("--print-commands --subtitles FILE: pass 1 draws the task's script below the picture",
            "-t 1 -p 1 -o @OUT --print-commands --subtitles @SRT @CLIP", 0, {},
            "[…\"-vf\",\"…,pad='176:144:(ow-iw)/2:max(0,min((oh-ih)/2,oh-ih-35))',…,"
            "ass=filename=@OUT/clip_subtitles.ass\",…]\n[…]\n[…]\n§");
        row("--subtitle-stream 1 of a video without one: the task fails saying so",
            "-p 1 -o @OUT --subtitle-stream 1 @CLIP", 1, {},
            "[1/1] clip.mp4 -> clip.3gp: Failed\n§[1/1] clip.mp4 -> clip.3gp: failed: clip.mp4 "
            "has no subtitle stream\n…");

        row("--help", "--help", 0, {},
            "Usage: kestrani-cli [-t TYPE] [-p PROFILE] [-o FOLDER] [-b SECONDS] …\n…"
            "Exit status: 0 when every task finished, 1 when any did not,\n"
            "2 for a usage error, 128 + the signal's number when stopped by a signal.\n…§");
        row("--version", "--version", 0, {},
            "kestrani-cli …\nLicense GPLv3+: GNU GPL version 3 or later <https://gnu.org/…>\n§");
        row("--list-profiles: types, descriptions, numbered titles, defaults marked",
            "--list-profiles", 0, {},
            "0  Cell Phone 3GP  files (3GP + AMR)\n   3GP video with AMR sound: …\n"
            "      1  Smallest files - 128x96, 10 fps (H.263, AMR 5.15 kbit/s)\n…"
            "   *  3  Standard - 176x144, 15 fps …\n1  Cell Phone 3GP  files (3GP + AAC)\n…"
            "   *  3  Good …2  Cell Phone 3GP2 files (3GP2 + AAC)\n…   *  2  Standard …§");
        row("3G2: state lines, closing line", "-t 2 -p 1 -b 0.5 -o @OUT @CLIP", 0, {"clip.3g2"},
            "[1/1] clip.mp4 -> clip.3g2: Encoding\n…[1/1] clip.mp4 -> clip.3g2: Finished\n"
            "§kestrani-cli: Information: Converting Finished\n");
        row("a broken file fails saying why and where the log is; the next converts",
            "-p 1 -o @OUT @BROKEN @CLIP", 1, {"clip.3gp"},
            "[1/2] broken.mp4 -> broken.3gp: Failed\n[2/2] clip.mp4 -> clip.3gp: Encoding\n…"
            "§kestrani-cli: cannot open \"@BROKEN\": …\n[1/2] broken.mp4 -> broken.3gp: failed: "
            "the source cannot be read as a video: Invalid data found when processing input\n"
            "  the log has the details: @LOG\nkestrani-cli: Warning: "
            "1 of 2 videos failed: @BROKEN\n");
        row("a tool that is not installed is named with the package that brings it",
            "/usr/bin/env PATH=@BIN @CLI -t 1 -p 1 -o @OUT @CLIP", 1, {},
            "[1/1] clip.mp4 -> clip.3gp: Encoding\n…[1/1] clip.mp4 -> clip.3gp: Failed\n§[1/1] "
            "clip.mp4 -> clip.3gp: failed: AtomicParsley was not found: install the atomicparsley "
            "package\n  the log has the details: @LOG\nkestrani-cli: Warning: 1 of 1 video "
            "failed: @CLIP\n");
        row("a begin past the end: nothing to convert", "-b 5 -e 6 -o @OUT @CLIP", 1, {},
            "[1/1] clip.mp4 -> clip.3gp: Failed\n§[1/1] clip.mp4 -> clip.3gp: failed: nothing to "
            "convert: …\n  the log has the details: @LOG\n…");
        row("-j 2: two at once, the second under a name of its own",
            "-p 1 -j 2 -o @OUT @CLIP @CLIP", 0, {"clip (2).3gp", "clip.3gp"},
            "[1/2] clip.mp4 -> clip.3gp: Encoding\n[2/2] clip.mp4 -> clip (2).3gp: Encoding\n…"
            "Converting Finished\n");
        row("-j 0: as many as keep the machine busy, two at least", "-p 1 -j 0 -o @OUT @CLIP @CLIP",
            0, {"clip (2).3gp", "clip.3gp"},
            "[1/2] clip.mp4 -> clip.3gp: Encoding\n[2/2] clip.mp4 -> clip (2).3gp: Encoding\n…"
            "Converting Finished\n");
        row("-o relative: the folder it was started in", "-p 1 -o . @CLIP", 0, {"clip.3gp"},
            "…Finished\n§…Converting Finished\n");
        row("no -o: the stored destination", "-p 1 @CLIP", 0, {"clip.3gp"},
            "…Finished\n§…Converting Finished\n");
        row("output folder missing", "-o @OUT/missing @CLIP", 1, {},
            "§kestrani-cli: Error: The output directory \"@OUT/missing\" does not exist\n");
        row("a log that cannot be kept in app/ is kept in the user's data folder",
            "@TEST/logless/kestrani-cli -o @OUT @BROKEN", 1, {},
            "…§…\n  the log has the details: @TEST/XDG_DATA_HOME/Kestrani/Kestrani/log.txt\n…");
        row("a program folder without app/: refused", "@ALONE/kestrani-cli -o @OUT @CLIP", 1, {},
            "§kestrani-cli: the program's \"app\" folder (profiles and tools) is missing: looked "
            "for @ALONE/app\n");
        row("--print-commands: a phone clip's sound repacked first, the passes read the copy",
            "-t 0 -p 1 -o @OUT --print-commands @PHONE", 0, {},
            "[…\"-f\",\"amr\",\"file:@OUT/filetype_fixture2_sound.amr\"]\n"
            "[…\"-f\",\"matroska\",\"file:@OUT/filetype_fixture2_source.mkv\"]\n"
            "[…\"-i\",\"file:@OUT/filetype_fixture2_source.mkv\",…]\n[…kestrani-amrenc…]\n"
            "[…AtomicParsley…]\n§");
        row("--loudness=-20 --print-commands: the part's sound measured first, pass 1 shows "
            "where the gain goes",
            "-t 1 -p 1 -o @OUT --loudness=-20 --print-commands @CLIP", 0, {},
            "[…\"-vn\",…\"-af\",\"aformat=sample_rates=22050:channel_layouts=mono,astats@source=…"
            "ebur128@source=framelog=verbose,aresample=88200,astats@peak=…\",\"-f\",\"null\",\"-\"]"
            "\n"
            "[…\"-af\",\"aformat=sample_rates=22050:channel_layouts=mono,volume=(the gain the "
            "measuring runs find)\",\"-c:a\",\"pcm_s16le\",…]\n[…\"-c:a\",\"aac\",…]\n"
            "[…AtomicParsley…]\n§");
        row("few file descriptors: fewer tasks at once, every one converts",
            "/usr/bin/prlimit --nofile=30 @CLI -t 1 -p 1 -j 6 -e 0.5 -o @OUT @CLIP @CLIP @CLIP "
            "@CLIP @CLIP @CLIP",
            0,
            {"clip (2).3gp", "clip (3).3gp", "clip (4).3gp", "clip (5).3gp", "clip (6).3gp",
             "clip.3gp"},
            "…Finished\n§kestrani-cli: Information: Converting Finished\n");
        row("kestrani-amrenc says how far it is (a working one is never taken for stalled)",
            "@APP/kestrani-amrenc @PHONE @OUT/phone.3gp", 0, {"phone.3gp"},
            "§kestrani-amrenc: 9.67 s of 9.67 s written\n");
        row("--print-commands: a file nothing would run for fails; the next is printed, by "
            "type 0's default profile",
            "-o @OUT --print-commands @BROKEN @CLIP", 1, {},
            "[…\"file:@OUT/clip_temp.3gp\"]\n"
            "[\"…/kestrani-amrenc\",\"--mode\",\"MR122\",\"--h263-level\",\"45\",…]\n"
            "[\"…/AtomicParsley\",…]\n"
            "§kestrani-cli: cannot open \"@BROKEN\": …\n"
            "kestrani-cli: @BROKEN: nothing would run for it\n");
        row("the window given files on its command line: its title, the files as tasks, a "
            "relative name from where it started",
            "/usr/bin/env QT_QPA_PLATFORM=offscreen KESTRANI_PRINT_TASKS=1 @WINDOW @CLIP @RELATIVE",
            0, {}, "title\tKestrani V…\ntask\t@CLIP\t0\t2\ntask\t@CLIP\t0\t2\n§…");
        row("the window given a name that is not UTF-8 (Latin-1): the file opens, its name reads",
            "/bin/sh -c \"ln -s @CLIP $(printf 'caf\\351.mp4') && QT_QPA_PLATFORM=offscreen "
            "KESTRANI_PRINT_TASKS=1 exec @WINDOW $(printf 'caf\\351.mp4')\"",
            0, {}, "title\tKestrani V…\ntask\t…/café.mp4\t0\t2\n§…");
        row("the display going away: the window ends with status 1, not a crash",
            "/bin/sh -c \"f=$(mktemp); Xvfb -displayfd 9 -nolisten tcp 9>$f 2>/dev/null & x=$!; "
            "n=0; until [ -s $f ] || [ $n -gt 100 ]; do sleep 0.1; n=$((n+1)); done; "
            "QT_QPA_PLATFORM=xcb DISPLAY=:$(cat $f) @WINDOW & w=$!; until DISPLAY=:$(cat $f) "
            "xwininfo -root -tree 2>/dev/null | grep -q Kestrani || [ $n -gt 300 ]; do sleep 0.1; "
            "n=$((n+1)); done; "
            "kill $x; wait $w; echo status $?; rm -f $f\"",
            0, {}, "status 1\n§…X11 connection broke…");
        row("on a terminal: the first pass's progress live on the line of its task",
            "/usr/bin/script -qefc \"@CLI -p 1 -o @OUT @CLIP\" /dev/null", 0, {"clip.3gp"},
            "[1/1] clip.mp4 -> clip.3gp: Encoding\r\n…\r[1/1] clip.mp4 -> clip.3gp  00:00:0…MB  "
            "…Frames/s  %…\x1b[K…\r\x1b[K[1/1] clip.mp4 -> clip.3gp: Exporting\r\n…§");
        row("a journal that cannot be kept is said before the batch, which runs",
            "/usr/bin/env XDG_DATA_HOME=/proc/kestrani-nowhere @CLI -p 1 -o @OUT @CLIP", 0,
            {"clip.3gp"},
            "…Finished\n§kestrani-cli: Warning: The batch journal cannot be kept…Finished\n");
    }

    void options()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, printed);
        const QString folder = NewFolder(dir, folders);
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani", "Kestrani")
            .setValue("destination/Default", folder);
        const QStringList keys{"@CLIP", "@OUT", "@LOG",    "@BROKEN", "@ALONE",    "@CLI", "@PHONE",
                               "@APP",  "@BIN", "@WINDOW", "@TEST",   "@RELATIVE", "@SRT"};
        const QStringList values{
            clip,       folder, log,        broken,
            alone,      cli,    phone,      program + "/app",
            ffmpegOnly, window, dir.path(), QDir(folder).relativeFilePath(clip),
            subtitles};
        QString both = arguments + u'\n' + printed; // the arguments hold no line end
        for (int i = 0; i < keys.size(); ++i)
            both.replace(keys[i], values[i]);
        QStringList list = QProcess::splitCommand(both.section(u'\n', 0, 0));
        const QString program = list.first().startsWith(u'/') ? list.takeFirst() : cli;
        const ToolResult run = RunTool(program, list, 60000, {}, folder);
        QTEST(run.exitCode, "exitCode");
        const QString text = QString::fromUtf8(run.out + "§" + run.err);
        const QRegularExpression pattern(
            "(?s)^" + QRegularExpression::escape(both.section(u'\n', 1)).replace("\\…", ".*") +
            "$");
        QVERIFY2(pattern.match(text).hasMatch(), qPrintable(text));
        QTEST(FilesIn(folder), "files");
    }

    // Ctrl-C, and the end of the session or a kill's polite signal, stop the batch as Stop does:
    // the task canceled, its tool ended, no file left, exit 128 + the signal.
    void signalsStop_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT (Ctrl-C)") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP (the terminal closed)") << SIGHUP;
    }
    void signalsStop()
    {
        QFETCH(int, signal);
        const QString out = NewFolder(dir, folders);
        QProcess run;
        run.start(cli, {"-t", "1", "-p", "5", "-o", out, clip});
        QVERIFY(run.waitForReadyRead(30000) && ::kill(pid_t(run.processId()), signal) == 0);
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 128 + signal);
        QVERIFY(run.readAllStandardOutput().endsWith("[1/1] clip.mp4 -> clip.3gp: Canceled\n"));
        QCOMPARE(FilesIn(out), QStringList());
        QCOMPARE(ProcessesUsing(out), QStringList());
    }

    // A name is one argument wherever it goes: each source converts under its own name, or
    // fails saying why; the source stays as it was.
    void hostileSources_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < hostile.size(); ++i)
            QTest::newRow(hostile[i].row) << i;
    }

    void hostileSources()
    {
        QFETCH(int, index);
        const Source &source = hostile[index];
        const QByteArray path = QFile::encodeName(names) + '/' + source.name;
        struct stat st;
        const bool kept = ::stat(path.data(), &st) == 0 && st.st_size == source.Bytes(clip).size();
        ::unlink(path.constData()); // QDir cannot remove a name that is not UTF-8
        QVERIFY(kept);              // and as it was
        // As the program reads it: bytes that are not UTF-8 as the code page they come from.
        const QString title = bytenames::Readable(source.name).chopped(4);
        const QStringList made = FilesIn(namesOut).filter(
            QRegularExpression("^" + QRegularExpression::escape(title.left(60)) +
                               (title.size() > 60 ? "" : "\\.3gp$")));
        QCOMPARE(made.size(), source.converts);
        if (!made.isEmpty())
            QCOMPARE(Brand(Probe(namesOut + '/' + made[0])), "3gp4");
        else // "[2/12] name.mp4 -> name.3gp: failed: why"
            QVERIFY(batch.err.contains((title + ".mp4 -> " + title + ".3gp: failed: ").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
