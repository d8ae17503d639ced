// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandtemplate.h"
#include "conversionengine.h"
#include "conversiontask.h"
#include "globals.h"
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
    QString savedCurrent;

    // Runs the expanded template through the runner and returns what the child got.
    QStringList ArgumentsReceived(ConversionEngine &engine, const QString &commandTemplate)
    {
        const QString dump = dir.filePath("args.bin");
        QFile::remove(dump);
        qputenv("ARGDUMP_FILE", QFile::encodeName(dump));
        const RunResult r = engine.RunProcessAndWait(engine.ExpandArguments(commandTemplate));
        if (!r.Succeeded())
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
        savedCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(KESTRANI_TEST_BIN_DIR)); // where argdump is
    }
    void cleanupTestCase() { QDir::setCurrent(savedCurrent); }

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

    void engineExpandsTheCurrentTask()
    {
        RecordingHost host;
        TaskList tasks;
        tasks.Append(Task(1, 2, "/v/first.avi"));
        tasks.Append(Task(3, 4, "/v/second.avi"));
        ConversionEngine engine(host, tasks);
        outputFolder = "/dest/";
        engine.currentTaskIndex = 1;
        QCOMPARE(engine.ExpandCommand("\"$OUTPUT_DIR$OUTPUT_FILE.3gp\" $START"),
                 QString("\"/dest/second.3gp\" 00:00:03"));
        QCOMPARE(engine.ExpandArguments("x \"$OUTPUT_DIR$OUTPUT_FILE.3gp\""),
                 QStringList({"x", "/dest/second.3gp"}));
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$");
        QVERIFY(stamp.match(engine.ExpandCommand("$TIMESTAMP")).hasMatch());
        engine.currentTaskIndex = 5; // no such task: empty values, no crash
        QCOMPARE(engine.ExpandCommand("[$INPUT_FILE]"), QString("[]"));
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
        RecordingHost host;
        TaskList tasks;
        tasks.Append(Task(0, 5, source, title));
        ConversionEngine engine(host, tasks);
        outputFolder = "/out dir/";
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
        QCOMPARE(ArgumentsReceived(engine, tmpl), expected);
    }

    void programLookup_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("found");
        QTest::newRow("tool in the current folder") << "argdump" << true;
        QTest::newRow("tool on PATH") << "ffmpeg" << true;
        QTest::newRow("missing tool") << "no-such-tool-kestrani" << false;
        QTest::newRow("path to a missing tool") << "./no-such-tool" << true; // left to start
        QTest::newRow("empty name") << "" << false;
    }
    void programLookup()
    {
        QFETCH(QString, program);
        QFETCH(bool, found);
        QCOMPARE(!ConversionEngine::ResolveProgram(program).isEmpty(), found);
    }

    void currentFolderWinsOverPath()
    {
        // A tool of ours named like a system tool is the one that runs.
        QTemporaryDir app;
        QVERIFY(QFile::copy(KESTRANI_TEST_BIN_DIR "/argdump", app.filePath("ffmpeg")));
        QVERIFY(QDir::setCurrent(app.path()));
        const QString resolved = ConversionEngine::ResolveProgram("ffmpeg");
        QDir::setCurrent(KESTRANI_TEST_BIN_DIR);
        QCOMPARE(resolved, app.filePath("ffmpeg"));
        QVERIFY(ConversionEngine::ResolveProgram("ffmpeg") != app.filePath("ffmpeg"));
    }
};

QTEST_GUILESS_MAIN(TestCommandTemplate)
#include "tst_commandtemplate.moc"
