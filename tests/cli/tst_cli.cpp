// SPDX-License-Identifier: GPL-3.0-or-later
// kestrani-cli as its users run it, from a program folder of the test's own (its log and the
// folder its tools start in are the test's): what it prints and returns for each option, what
// it leaves on disk, and what it never runs, whatever names and files it is given.
#include "engine.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <csignal>
#include <fcntl.h>

using namespace support;

namespace {

// A file under a name of raw bytes, which a QString cannot always carry.
bool WriteRaw(const QByteArray &path, const QByteArray &bytes)
{
    QFile file;
    return file.open(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644),
                     QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
           file.write(bytes) == bytes.size();
}

struct Source {
    const char *row;
    QByteArray name;
    int converts;                  // 1 converts, 0 fails, -1 either
    const char *content = nullptr; // nullptr: the clip
};

// Names with every character a file system allows, and files that are no video at all.
const QList<Source> hostile = {
    {"quotes and backslashes", "it's \"quoted\" back\\slash\\.mp4", 1},
    {"shell syntax", "$(touch pwned) `touch pwned`; a | cat > x & *?[a-z]{x} !!.mp4", 1},
    {"the templates' variables, format placeholders", "$OUTPUT_FILE $TITLE$INPUT_FILE %1 %s.mp4",
     1},
    {"newline, tab, carriage return", "first\nsecond\tthird\r.mp4", 1},
    {"leading dash, like options", "-y -i evil.mp4", 1},
    {"protocol prefix, blanks around", "  pipe:1  .mp4", 1},
    {"UTF-8", "ünïcödé 日本語 🎬.mp4", 1},
    {"name at NAME_MAX, shortened", QByteArray(NAME_MAX - 4, 'M') + ".mp4", 1},
    {"UTF-8 name at NAME_MAX", QByteArray("\xF0\x9F\x8E\xAC").repeated(NAME_MAX / 4 - 1) + ".mp4",
     1},
    {"not UTF-8", "bad \xff\xfe\xc3( bytes.mp4", -1},
    {"text full of shell syntax", "text.mp4", 0, "$(touch pwned)\n`touch pwned` ; rm -rf ~\n"},
    {"empty file", "empty.mp4", 0, ""},
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int folders = 0;
    QString program, cli, log, clip, alone;
    QString names, namesOut;            // the hostile sources and their outputs
    QStringList namesBefore, appBefore; // both folders before the batch
    ToolResult batch;

    // Whether `text` is `pattern` with @CLIP, @OUT, @LOG, @BROKEN, @ALONE in place, where
    // "…" stands for any text.
    bool Matches(const QString &pattern, const QByteArray &text, const QString &out) const
    {
        QStringList parts = Fill(pattern, out).split(u'…');
        for (QString &part : parts)
            part = QRegularExpression::escape(part);
        return QRegularExpression("^" + parts.join(".*") + "$",
                                  QRegularExpression::DotMatchesEverythingOption)
            .match(QString::fromUtf8(text))
            .hasMatch();
    }
    QString Fill(QString text, const QString &out) const
    {
        const QString broken = QFileInfo(MediaFile("broken.mp4")).canonicalFilePath();
        const QStringList keys{"@CLIP", "@OUT", "@LOG", "@BROKEN", "@ALONE", "@EMPTY"};
        const QStringList values{clip, out, log, broken, alone, ""};
        for (int i = 0; i < keys.size(); ++i)
            text.replace(keys[i], values[i]);
        return text;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        program = dir.filePath("program");
        alone = NewFolder(dir, folders, "alone"); // no app/ beside it
        QVERIFY(MakeProgramFolder(program).IsValid());
        cli = program + "/kestrani-cli";
        log = program + "/app/log.txt";
        QVERIFY(QFile::copy(cliProgram, cli) && QFile::copy(cliProgram, alone + "/kestrani-cli"));
        Clip second;
        second.seconds = 1.0;
        clip = SharedClip(second);
        QVERIFY(!clip.isEmpty());

        // One batch of every hostile source, named by the shell's own expansion, which passes
        // names on as the raw bytes they are. It starts where tools named like the real ones
        // lie, also in a folder that PATH names relatively: they must not be taken.
        names = NewFolder(dir, folders, "names");
        namesOut = NewFolder(dir, folders);
        QVERIFY(QDir(names).mkdir("bin"));
        for (const char *tool : {"/ffmpeg", "/AtomicParsley", "/bin/ffmpeg", "/bin/AtomicParsley"})
            QVERIFY(WriteFile(names + tool,
                              "#!/bin/sh\ntouch '" + names.toUtf8() + "/ran'\nexit 1\n") &&
                    QFile::setPermissions(names + tool,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const Source &s : hostile)
            QVERIFY(WriteRaw(QFile::encodeName(names) + '/' + s.name,
                             s.content ? QByteArray(s.content) : Contents(clip)));
        namesBefore = FilesIn(names);
        appBefore = FilesIn(program + "/app");
        batch = RunTool(
            "/bin/sh",
            {"-c",
             "cd \"$0\" && PATH=\".:bin::$PATH\" exec \"$1\" -p 1 -j 2 -e 0.5 -o \"$2\" -- *.mp4",
             names, cli, namesOut});
    }

    void options_data()
    {
        QTest::addColumn<QString>("arguments"); // split at blanks; a program path may come first
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // patterns for Matches()
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("files"); // in @OUT, where the program starts
        const auto usage = [](const char *row, const char *arguments, const QString &said) {
            QTest::newRow(row) << arguments << 2 << ""
                               << "kestrani-cli: " + said + "\nTry 'kestrani-cli --help'.\n"
                               << QStringList();
        };
        const QString notANumber = "the %1 must be a number of seconds, 0 or more";
        usage("no video files", "-t 1", "no video files given");
        usage("type 3", "-t 3 @CLIP", "the output type must be 0, 1 or 2");
        usage("profile 0", "-p 0 @CLIP", "the profile number must be 1 or more");
        usage("profile past the type's last", "-t 2 -p 5 @CLIP", "type 2 has no profile 5");
        usage("begin with a decimal comma", "-b 1,5 @CLIP", notANumber.arg("begin"));
        usage("negative end", "-e -1 @CLIP", notANumber.arg("end"));
        usage("end at the begin", "-b 1 -e 1 @CLIP", "the end must come after the begin");
        usage("negative jobs", "-j -1 @CLIP", "the number of files at once must be 0 or more");
        usage("empty output folder", "-o @EMPTY @CLIP", "the output folder must not be empty");
        usage("unknown option", "--fast @CLIP", "Unknown option 'fast'.");
        usage("option without its value", "@CLIP -o", "Missing value after '-o'.");

        const auto row = [](const char *name, const char *arguments, int exitCode,
                            const QString &out, const QString &err, const QStringList &files = {}) {
            QTest::newRow(name) << arguments << exitCode << out << err << files;
        };
        row("--help: every option, the exit statuses", "--help", 0,
            "Usage: kestrani-cli [-t TYPE] [-p PROFILE] [-o FOLDER] [-b SECONDS] [-e SECONDS] [-j "
            "N] FILE...\n…"
            "-j, --jobs N …--list-profiles …--print-commands …Exit status: 0 when every task "
            "finished, 1 when any did not,\n2 for a usage error, 128 + the signal's number when "
            "stopped by a signal.\n…",
            "");
        row("--version", "--version", 0,
            "kestrani-cli …\nLicense GPLv3+: GNU GPL version 3 or later "
            "<https://gnu.org/licenses/gpl.html>\n",
            "");
        row("--list-profiles: types, descriptions, numbered titles, defaults marked",
            "--list-profiles", 0,
            "0  Cell Phone 3GP  files (3GP + AMR)\n   3GP video with AMR sound: …\n      1  "
            "Smallest files - 128x96, 10 fps (H.263, AMR 5.15 kbit/s)\n…"
            "   *  3  Standard - 176x144, 15 fps (H.263, AMR 12.2 kbit/s)\n…1  Cell Phone 3GP  "
            "files (3GP + AAC)\n…   *  3  Good …"
            "2  Cell Phone 3GP2 files (3GP2 + AAC)\n…   *  2  Standard …      4  Best - 320x240, "
            "30 fps (H.264, AAC 96 kbit/s)\n",
            "");
        row("--print-commands: 5 passes of the default profile with the begin, none run",
            "-t 2 -b 0.5 -o . --print-commands @CLIP", 0,
            "[\"/usr/bin/ffmpeg\",…\"-ss\",\"0.500\",…\"libx264\",…\"file:@OUT/"
            "clip_temp.3gp\"]\n[\"/…]\n[\"/…]\n[\"/…]\n[\"/…]\n",
            "");
        row("-t 2 -p 1 -b: state lines, the closing line", "-t 2 -p 1 -b 0.5 -o @OUT @CLIP", 0,
            "[1/1] clip.mp4 -> clip.3g2: Encoding\n…[1/1] clip.mp4 -> clip.3g2: Finished\n",
            "kestrani-cli: Information: Converting Finished\n", {"clip.3g2"});
        row("a broken file fails saying why and where the log is; the next converts",
            "-p 1 -o @OUT @BROKEN @CLIP", 1,
            "[1/2] broken.mp4 -> broken.3gp: Failed\n[2/2] clip.mp4 -> clip.3gp: Encoding\n…[2/2] "
            "clip.mp4 -> clip.3gp: Finished\n",
            "kestrani-cli: cannot open \"@BROKEN\": …\n[1/2] broken.mp4 -> broken.3gp: failed: "
            "nothing to convert: …\n"
            "  the log has the details: @LOG\nkestrani-cli: Information: 1 of 2 videos failed: see "
            "the Progress column\n",
            {"clip.3gp"});
        row("a begin past the end: nothing to convert", "-b 5 -e 6 -o @OUT @CLIP", 1,
            "[1/1] clip.mp4 -> clip.3gp: Failed\n",
            "[1/1] clip.mp4 -> clip.3gp: failed: nothing to convert: …\n  the log has the details: "
            "@LOG\n…");
        row("-j 2: two at once, the second under a name of its own",
            "-p 1 -j 2 -o @OUT @CLIP @CLIP", 0,
            "[1/2] clip.mp4 -> clip.3gp: Encoding\n[2/2] clip.mp4 -> clip (2).3gp: Encoding\n…",
            "…Converting Finished\n", {"clip (2).3gp", "clip.3gp"});
        row("-o relative: the folder it was started in", "-p 1 -o . @CLIP", 0, "…Finished\n",
            "…Converting Finished\n", {"clip.3gp"});
        row("no -o: the stored destination", "-p 1 @CLIP", 0, "…Finished\n",
            "…Converting Finished\n", {"clip.3gp"});
        row("output folder missing", "-o @OUT/missing @CLIP", 1, "",
            "kestrani-cli: Error: The output directory \"@OUT/missing\" does not exist\n");
        row("a program folder without app/: refused", "@ALONE/kestrani-cli -o @OUT @CLIP", 1, "",
            "kestrani-cli: the program's \"app\" folder (profiles and tools) is missing: looked "
            "for @ALONE/app\n");
    }

    void options()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, files);
        const QString folder = NewFolder(dir, folders);
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrani", "Kestrani")
            .setValue("destination/Default", folder);
        QStringList list = Fill(arguments, folder).split(u' ');
        const QString program = list.first().endsWith("/kestrani-cli") ? list.takeFirst() : cli;
        const ToolResult run = RunTool(program, list, 60000, {}, folder);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(Matches(out, run.out, folder), run.out.constData());
        QVERIFY2(Matches(err, run.err, folder), run.err.constData());
        QCOMPARE(FilesIn(folder), files);
    }

    // Ctrl-C stops the batch as the Stop button does: the task canceled, its files gone.
    void ctrlCStops()
    {
        const QString out = NewFolder(dir, folders);
        QProcess run;
        run.start(cli, {"-t", "1", "-p", "5", "-o", out, clip});
        QVERIFY(run.waitForReadyRead(30000)); // the Encoding line
        ::kill(pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 128 + SIGINT);
        QVERIFY(run.readAllStandardOutput().endsWith("[1/1] clip.mp4 -> clip.3gp: Canceled\n"));
        QCOMPARE(FilesIn(out), QStringList());
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
        const QByteArray printed = QString::fromUtf8(source.name).toUtf8();
        const QByteArray prefix = "] " + printed + " -> ";
        const qsizetype at = batch.out.lastIndexOf(prefix);
        QVERIFY2(at >= 0, batch.out.constData());
        const QByteArray tail = batch.out.mid(at + prefix.size()); // from its last state line
        const qsizetype finished = tail.indexOf(": Finished\n"),
                        failed = tail.indexOf(": Failed\n");
        const bool converted = finished >= 0 && (failed < 0 || finished < failed);
        const QByteArray output = tail.left(converted ? finished : failed);
        if (source.converts >= 0)
            QCOMPARE(int(converted), source.converts);
        if (converted) { // named after the source, shortened only to fit
            const QByteArray title = printed.chopped(4), base = output.chopped(4);
            QVERIFY2(title.startsWith(base) && base.size() >= qMin(title.size(), 200),
                     base.constData());
            QCOMPARE(Brand(Probe(namesOut + '/' + QString::fromUtf8(output))), "3gp4");
        } else {
            QVERIFY(failed >= 0 && batch.err.contains(prefix + output + ": failed: "));
        }
        struct stat st {
        };
        QVERIFY(::stat((QFile::encodeName(names) + '/' + source.name).constData(), &st) == 0);
        QCOMPARE(qint64(st.st_size),
                 source.content ? qint64(qstrlen(source.content)) : QFileInfo(clip).size());
    }

    // Nothing ran that should not have: no file appeared beside the sources or where the
    // tools start, and every output is a finished task's.
    void hostileBatchTouchesNothingElse()
    {
        QCOMPARE(FilesIn(names), namesBefore);
        QCOMPARE(FilesIn(program + "/app"), appBefore + QStringList{"log.txt"});
        const int failures = batch.out.count(": Failed\n");
        QCOMPARE(FilesIn(namesOut).size(), batch.out.count(": Finished\n"));
        QCOMPARE(batch.exitCode, failures ? 1 : 0);
        QVERIFY(batch.err.endsWith(
            QStringLiteral("Information: %1 of %2 videos failed: see the Progress column\n")
                .arg(failures)
                .arg(hostile.size())
                .toUtf8()));
        for (const Source &s : hostile) // names QDir cannot remove
            ::unlink((QFile::encodeName(names) + '/' + s.name).constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
