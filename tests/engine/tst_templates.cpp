// SPDX-License-Identifier: GPL-3.0-or-later
// Pass templates filled with a task's values: the text for the log, the arguments the tools get
// (through the shipped profiles, and as a real program receives them).
#include "engine.h"

#include "commandtemplate.h"
#include "passrunner.h"
#include "sourceprobe.h"

#include <QLocale>

using namespace support;

namespace {

ConversionTask Task(double begin, double end, const QString &source = "/v/clip.avi")
{
    ConversionTask task = ConversionTask::ForSource(source, end);
    task.beginSeconds = begin;
    return task;
}

} // namespace

class TestTemplates : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;

    // The arguments of every pass of the row's task, through the first profile of a type.
    QList<QStringList> Commands(int type, const QList<ConversionTask> &tasks, int row,
                                const QString &folder = "/out")
    {
        Batch batch(paths, type, folder);
        for (const ConversionTask &task : tasks)
            batch.tasks.Append(task);
        return batch.engine.TaskCommands(row);
    }

private slots:
    void initTestCase() { QVERIFY((paths = MakeProgramFolder(dir.path())).IsValid()); }

    // Begin and end as the trim sets them: the values, whatever the locale, and the trim the
    // shipped first passes give ffmpeg (-ss before the input, -t the length, twice).
    void trim_data()
    {
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::addColumn<QString>("values"); // $START $LENGTH $EXACT_START $EXACT_LENGTH
        const auto row = [](const char *name, double begin, double end, const char *values) {
            QTest::newRow(name) << begin << end << QString(values);
        };
        row("whole clip", 0, 12, "00:00:00 00:00:12 0.000 12.000");
        row("middle part: -t is the length, not the end", 10.6, 70.2,
            "00:00:10 00:00:59 10.600 59.600");
        row("frames 2 to 47 at 15 fps: 45 frames", 2 / 15.0, 47 / 15.0,
            "00:00:00 00:00:03 0.133 3.000");
        row("frames 30 to 300 at 29.97 fps", 1.001, 10.01, "00:00:01 00:00:09 1.001 9.009");
        row("length 0.2 held as 0.19999...", 0.1, 0.3, "00:00:00 00:00:00 0.100 0.200");
        row("fractions rounded to the millisecond, not cut", 1.0006, 4.0002,
            "00:00:01 00:00:02 1.001 3.000");
        row("a hundred hours in", 360000, 360061.5, "100:00:00 00:01:01 360000.000 61.500");
    }
    void trim()
    {
        QFETCH(double, begin);
        QFETCH(double, end);
        QLocale::setDefault(QLocale(QLocale::German)); // a comma locale changes nothing
        const auto v = CommandTemplate::Values::For(Task(begin, end), "/o/", QDateTime());
        QTEST(CommandTemplate::ExpandText("$START $LENGTH $EXACT_START $EXACT_LENGTH", v),
              "values");
        for (int type = 0; type < OutputType::count; ++type) {
            const QStringList a = Commands(type, {Task(begin, end)}, 0).value(0);
            QCOMPARE(QStringList({a.value(a.indexOf("-ss") + 1), a.value(a.indexOf("-t") + 1),
                                  a.value(a.lastIndexOf("-t") + 1)}),
                     QStringList({v.exactStart, v.exactLength, v.exactLength}));
        }
        QLocale::setDefault(QLocale::c());
    }

    // $AUDIO_MAP: the first sound, if any, until the probe chose one; none when it found none.
    void audioMap()
    {
        auto v = CommandTemplate::Values::For(Task(0, 5), "/o/", QDateTime());
        QCOMPARE(CommandTemplate::ExpandText("-map $AUDIO_MAP", v), "-map 0:a:0?");
        SourceInfo source;
        source.audioIndex = 2;
        v.TakeSource(source);
        QCOMPARE(CommandTemplate::ExpandText("-map $AUDIO_MAP", v), "-map 0:a:2?");
        source.audioIndex = -1;
        v.TakeSource(source);
        QCOMPARE(CommandTemplate::ExpandText("-map $AUDIO_MAP", v), "-map -0:a");
    }

    // Whatever a name holds, it arrives whole in the one argument the template put it in: in
    // the shipped passes, and as a real program receives it.
    void awkwardNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("title");
        const auto row = [](const char *name, const char *source, const char *title) {
            QTest::newRow(name) << QString(source) << QString(title);
        };
        row("blanks", "/v/my  clip .avi", "  two  words ");
        row("double quotes", "/v/a\" -f rawvideo -y \"b.avi", "say \"hi\"");
        row("single quote", "/v/it's.avi", "it's");
        row("backslashes", "/v/c\\clip\\\\\".avi", "a\\\"b");
        row("dollars and variable names", "/v/$OUTPUT_DIR$x.avi", "$START");
        row("leading dashes and shell characters", "/v/-y;b|c&d`e`$(f)*.avi", "-f 'x' > y");
        row("non-ASCII, tab and line end", "/v/Käse\t→ 日本\n.avi", "Grüße\tx");
        row("empty title", "/v/clip.avi", "");
    }
    void awkwardNames()
    {
        QFETCH(QString, source);
        QFETCH(QString, title);
        ConversionTask task = Task(0, 5, source);
        task.title = title;
        const QString out = "/out \"dir\"/" + task.outputName;
        // The second task: a command of the first would convert the wrong file.
        const QList<QStringList> c =
            Commands(0, {Task(1, 2, "/v/first.avi"), task}, 1, "/out \"dir\"");
        QCOMPARE(c.size(), 3);
        QCOMPARE(c[0].value(c[0].indexOf("-i") + 1), "file:" + source);
        QCOMPARE(c[0].last(), "file:" + out + "_temp.3gp");
        QCOMPARE(c[1].mid(c[1].size() - 2), QStringList({out + "_temp.3gp", out + ".3gp"}));
        QCOMPARE(c[2], QStringList({c[2][0], out + ".3gp", "--3gp-title", title, "--overWrite"}));

        const QStringList arguments = CommandTemplate::ExpandArguments(
            "printf <%s> \"$INPUT_FILE\" title=$TITLE \"$OUTPUT_DIR$OUTPUT_FILE.3gp\" $FOO",
            CommandTemplate::Values::For(task, "/out \"dir\"/", QDateTime::currentDateTime()));
        PassRunner runner(PassRunner::Mode::Quiet);
        RunResult result;
        connect(&runner, &PassRunner::ended, this, [&](const RunResult &r) { result = r; });
        runner.Start(QStringList{PassRunner::ResolveProgram("printf", paths.appFolder)} +
                     arguments.mid(1));
        QVERIFY(QTest::qWaitFor([&] { return result.finished; }, 10000));
        QCOMPARE(result.lastLines.join(u'\n'),
                 QStringLiteral("<%1><title=%2><%3.3gp><$FOO>").arg(source, title, out));
    }
};

QTEST_GUILESS_MAIN(TestTemplates)
#include "tst_templates.moc"
