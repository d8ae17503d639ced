// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandtemplate.h"
#include "conversionengine.h"
#include "conversiontask.h"
#include "passrunner.h"
#include "recordinghost.h"
#include "sourceprobe.h"
#include "tasklist.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

ConversionTask Task(double begin, double end, const QString &source = "/v/clip.avi",
                    const QString &title = "clip")
{
    ConversionTask task = ConversionTask::ForSource(source, end);
    task.beginSeconds = begin;
    task.title = title;
    return task;
}

CommandTemplate::Values ValuesFor(const ConversionTask &task)
{
    return CommandTemplate::Values::For(task, "/out/", QDateTime({2024, 3, 7}, {9, 5, 4}));
}

} // namespace

// Template expansion: the text form for display, and the arguments a real child receives.
class TestCommandTemplate : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;

    // The engine with one pass template in every pass of a 3GP profile, for the task list.
    QList<QStringList> TaskCommands(TaskList &tasks, int row, const QString &folder,
                                    const QString &passTemplate)
    {
        QFile profile(paths.InApp(QStringLiteral("3GP_AMR_Profile.ini")));
        if (!profile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        profile.write(QStringLiteral("[Info]\nDescription=d\n[P]\nTitle=t\nPass1=%1\nPass2=%1\n"
                                     "Pass3=%1\n")
                          .arg(passTemplate)
                          .toUtf8());
        profile.close();
        RecordingHost host;
        host.folderText = folder;
        ConversionEngine engine(host, tasks, paths);
        return engine.TaskCommands(row);
    }

    // Runs a pass's arguments as the batch does and returns what the child got.
    QStringList ArgumentsReceived(const QStringList &arguments)
    {
        const QString dump = dir.filePath("args.bin");
        QFile::remove(dump);
        qputenv("ARGDUMP_FILE", QFile::encodeName(dump));
        PassRunner runner(PassRunner::Mode::Quiet);
        RunResult r;
        bool ended = false;
        connect(&runner, &PassRunner::ended, this, [&](const RunResult &result) {
            r = result;
            ended = true;
        });
        runner.Start(arguments);
        if (!QTest::qWaitFor([&] { return ended; }, 30000) || !r.Succeeded())
            return {QStringLiteral("<did not run: %1>").arg(r.errorText)};
        QFile f(dump);
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no dump>")};
        QStringList args;
        for (const QByteArray &a : f.readAll().split('\0'))
            args.append(QString::fromUtf8(a));
        args.removeLast(); // every argument ends with a NUL
        return args;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // Our own tools live in the app folder.
        QVERIFY(QDir(dir.path()).mkpath("app"));
        QVERIFY(QFile::copy(KESTRANI_TEST_BIN_DIR "/argdump", dir.filePath("app/argdump")));
        paths = EnginePaths::ForProgramFolder(dir.path());
        QVERIFY(paths.IsValid());
    }

    void durations_data()
    {
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QString>("exactStart");
        QTest::addColumn<QString>("exactLength");
        QTest::newRow("start truncated to whole seconds") << 3725.9 << 3800.0 << "01:02:05"
                                                          << "00:01:14"
                                                          << "3725.900"
                                                          << "74.100";
        QTest::newRow("zero start") << 0.0 << 12.0 << "00:00:00"
                                    << "00:00:12"
                                    << "0.000"
                                    << "12.000";
        QTest::newRow("length subtracted first, then truncated") << 10.6 << 70.2 << "00:00:10"
                                                                 << "00:00:59"
                                                                 << "10.600"
                                                                 << "59.600";
        QTest::newRow("a hundred hours take three digits") << 360000.0 << 360061.5 << "100:00:00"
                                                           << "00:01:01"
                                                           << "360000.000"
                                                           << "61.500";
        QTest::newRow("end before begin") << 5.0 << 0.0 << "00:00:05"
                                          << "00:00:-5"
                                          << "5.000"
                                          << "-5.000";
    }
    void durations()
    {
        QFETCH(double, begin);
        QFETCH(double, end);
        QLocale::setDefault(QLocale(QLocale::German)); // a comma locale changes nothing
        const CommandTemplate::Values v = ValuesFor(Task(begin, end));
        QLocale::setDefault(QLocale::c());
        QTEST(v.start, "start");
        QTEST(v.length, "length");
        QTEST(v.exactStart, "exactStart");
        QTEST(v.exactLength, "exactLength");
    }

    void expandText_data()
    {
        QTest::addColumn<QString>("tmpl");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no variables comes back unchanged") << "ffmpeg -i \"x\" -y out.3gp"
                                                           << "t"
                                                           << "ffmpeg -i \"x\" -y out.3gp";
        QTest::newRow("a variable twice is replaced twice") << "$TITLE-$TITLE"
                                                            << "t"
                                                            << "t-t";
        QTest::newRow("directory, name and suffix joined as written")
            << "\"$OUTPUT_DIR$OUTPUT_FILE_temp.3gp\""
            << "t"
            << "\"/out/clip_temp.3gp\"";
        QTest::newRow("inside quotes and longer words") << "-metadata \"title=$TITLE\" x$STARTy"
                                                        << "t"
                                                        << "-metadata \"title=t\" x00:00:10y";
        QTest::newRow("names are case-sensitive") << "$title $Start"
                                                  << "t"
                                                  << "$title $Start";
        QTest::newRow("every variable")
            << "$INPUT_FILE|$TITLE|$START|$LENGTH|$TIMESTAMP|$OUTPUT_DIR|$OUTPUT_FILE|"
               "$EXACT_START|$EXACT_LENGTH"
            << "t"
            << "/v/clip.avi|t|00:00:10|00:00:59|2024-03-07 09:05:04|/out/|clip|10.600|59.600";
        QTest::newRow("a value holding a later name is not expanded again")
            << "$TITLE $OUTPUT_FILE"
            << "$OUTPUT_FILE $START"
            << "$OUTPUT_FILE $START clip";
        QTest::newRow("a value completing a name is not expanded") << "$STA$TITLE"
                                                                   << "RT"
                                                                   << "$START";
    }
    void expandText()
    {
        QFETCH(QString, tmpl);
        QFETCH(QString, title);
        const CommandTemplate::Values v = ValuesFor(Task(10.6, 70.2, "/v/clip.avi", title));
        QTEST(CommandTemplate::ExpandText(tmpl, v), "expected");
    }

    // The sound a pass maps: whatever the source holds until probed, then the probe's choice.
    void audioMap_data()
    {
        QTest::addColumn<bool>("probed");
        QTest::addColumn<int>("audioIndex");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not probed: the first audio stream if there is one")
            << false << -1 << "-map 0:v:0 -map 0:a:0?";
        QTest::newRow("probe chose the third audio stream")
            << true << 2 << "-map 0:v:0 -map 0:a:2?";
        QTest::newRow("no usable sound leaves all audio out")
            << true << -1 << "-map 0:v:0 -map -0:a";
    }
    void audioMap()
    {
        QFETCH(bool, probed);
        QFETCH(int, audioIndex);
        CommandTemplate::Values v = ValuesFor(Task(0, 5));
        SourceInfo source;
        source.audioIndex = audioIndex;
        if (probed)
            v.TakeSource(source);
        QTEST(CommandTemplate::ExpandText("-map 0:v:0 -map $AUDIO_MAP", v), "expected");
    }

    void engineExpandsTheTaskAsked()
    {
        TaskList tasks;
        tasks.Append(Task(1, 2, "/v/first.avi"));
        tasks.Append(Task(3, 4, "/v/second.avi"));
        const QList<QStringList> commands =
            TaskCommands(tasks, 1, "/dest",
                         "argdump \"$OUTPUT_DIR$OUTPUT_FILE.3gp\" $START "
                         "$TIMESTAMP");
        QCOMPARE(commands.size(), 3);
        QCOMPARE(commands[0].mid(0, 3),
                 QStringList({paths.InApp("argdump"), "/dest/second.3gp", "00:00:03"}));
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$");
        QVERIFY(stamp.match(commands[0].value(3)).hasMatch());
        QCOMPARE(commands[2], commands[0]);
        QVERIFY(TaskCommands(tasks, 5, "/dest", "argdump").isEmpty()); // no such task
    }

    // Whatever a file name holds, it arrives whole in the argument the template put it in.
    void valuesArriveExactlyInTheirArgument_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("title");
        QTest::newRow("quotes that would end the argument") << "/v/a\" -f rawvideo -y \"b.avi"
                                                            << "t";
        QTest::newRow("backslashes") << "C:\\v\\clip\\\\\".avi"
                                     << "a\\\"b";
        QTest::newRow("dollar signs and variable names") << "/v/$OUTPUT_DIR$x.avi"
                                                         << "$START";
        QTest::newRow("blanks") << "/v/my  clip .avi"
                                << "  two  words ";
        QTest::newRow("leading dashes") << "-y"
                                        << "-f";
        QTest::newRow("non-ascii") << "/v/Käse → 日本.avi"
                                   << "Grüße";
        QTest::newRow("shell characters") << "/v/a;b|c&d`e`$(f)*.avi"
                                          << "'x' > y";
        QTest::newRow("empty title") << "/v/clip.avi"
                                     << "";
    }
    void valuesArriveExactlyInTheirArgument()
    {
        QFETCH(QString, source);
        QFETCH(QString, title);
        TaskList tasks;
        tasks.Append(Task(0, 5, source, title));
        const QString tmpl = "argdump -i \"$INPUT_FILE\" -metadata \"title=$TITLE\" \"$TITLE\" "
                             "-y \"$OUTPUT_DIR$OUTPUT_FILE.3gp\" -t $LENGTH";
        const QStringList expected{"-i",
                                   source,
                                   "-metadata",
                                   "title=" + title,
                                   title,
                                   "-y",
                                   "/out dir/" + tasks.GetAt(0).outputName + ".3gp",
                                   "-t",
                                   "00:00:05"};
        QCOMPARE(ArgumentsReceived(TaskCommands(tasks, 0, "/out dir", tmpl).value(0)), expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandTemplate)
#include "tst_commandtemplate.moc"
