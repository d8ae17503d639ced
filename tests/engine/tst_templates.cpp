// SPDX-License-Identifier: GPL-3.0-or-later
// Pass templates filled with a task's values: the text for the log, and the arguments the
// shipped profiles give the tools.
#include "engine.h"

#include "mediacheck/sourceprobe.h"
#include "profiles/commandtemplate.h"

#include <QLocale>

using namespace support;

class TestTemplates : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German)); // a comma locale changes nothing
        QVERIFY((paths = MakeProgramFolder(dir.path())).IsValid());
    }

    // A task (begin and end as the trim sets them) as the second of the batch. Its trim values,
    // and the arguments of the first profile of each type: -ss before the input, -t the length
    // (twice), the source and the names whole in their own arguments, whatever they hold.
    void commands_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::addColumn<QString>("trim"); // $START $LENGTH $EXACT_START $EXACT_LENGTH
        const auto trim = [](const char *name, double begin, double end, const char *values) {
            QTest::newRow(name) << "/v/clip.avi"
                                << "clip" << begin << end << QString(values);
        };
        trim("whole clip", 0, 12, "00:00:00 00:00:12 0.000000 12.000000");
        trim("-t is the length, not the end", 10.6, 70.2, "00:00:10 00:00:59 10.600000 59.600000");
        trim("45 frames at 15 fps", 2 / 15.0, 47 / 15.0, "00:00:00 00:00:03 0.133333 3.000000");
        trim("frames 30 to 300 at 29.97 fps", 1.001, 10.01, "00:00:01 00:00:09 1.001000 9.009000");
        trim("a frame's start at 29.97 fps never comes out after it", 379379 / 30000.0, 13,
             "00:00:12 00:00:00 12.645966 0.354033");
        trim("length 0.2 held as 0.19999...", 0.1, 0.3, "00:00:00 00:00:00 0.100000 0.200000");
        trim("cut to the microsecond, not rounded up", 1.0000006, 4.0000002,
             "00:00:01 00:00:02 1.000000 2.999999");
        trim("a hundred hours in", 360000, 360061.5, "100:00:00 00:01:01 360000.000000 61.500000");
        const auto row = [](const char *name, const char *source, const char *title) {
            QTest::newRow(name) << QString(source) << QString(title) << 1.5 << 4.0
                                << QString("00:00:01 00:00:02 1.500000 2.500000");
        };
        row("blanks", "/v/my  clip .avi", "  two  words ");
        row("double quotes", "/v/a\" -f rawvideo -y \"b.avi", "say \"hi\"");
        row("single quote", "/v/it's.avi", "it's");
        row("backslashes", "/v/c\\clip\\\\\".avi", "a\\\"b");
        row("dollars and variable names", "/v/$OUTPUT_DIR$x.avi", "$START");
        row("leading dashes, shell characters", "/v/-y;b|c&d`e`$(f)*.avi", "-f 'x' > y");
        row("non-ASCII, tab and line end", "/v/Käse\t→ 日本\n.avi", "Grüße\tx");
        row("empty title", "/v/clip.avi", "");
    }
    void commands()
    {
        QFETCH(QString, source);
        QFETCH(QString, title);
        QFETCH(double, begin);
        QFETCH(double, end);
        ConversionTask task = ConversionTask::ForSource(source, end);
        task.beginSeconds = begin, task.title = title;
        const auto v = CommandTemplate::Values::For(task, "/o/", QDateTime());
        QTEST(CommandTemplate::ExpandText("$START $LENGTH $EXACT_START $EXACT_LENGTH", v), "trim");
        const QString out = "/out \"dir\"/" + task.outputName;
        for (int type = 0; type < OutputType::count; ++type) {
            Batch batch(paths, type, "/out \"dir\"");
            batch.Add("/v/first.avi", 9); // a command of the first task converts the wrong file
            batch.tasks.Append(task);
            const QList<QStringList> c = batch.engine.TaskCommands(1);
            const QStringList &a = c.value(0);
            QCOMPARE(QStringList({a.value(a.indexOf("-ss") + 1), a.value(a.indexOf("-t") + 1),
                                  a.value(a.lastIndexOf("-t") + 1), a.value(a.indexOf("-i") + 1),
                                  a.last()}),
                     QStringList({v.exactStart, v.exactLength, v.exactLength, "file:" + source,
                                  "file:" + out + "_temp" + OutputType::Find(type)->Extension()}));
            QCOMPARE(c.value(2).mid(2), QStringList({"--3gp-title", title, "--overWrite"}));
        }
    }

    // $AUDIO_MAP: the first sound, if any, until the probe chose one; none when it found none.
    // Names that are no variable stay as written.
    void audioMap()
    {
        auto v = CommandTemplate::Values::For(ConversionTask(), "/o/", QDateTime());
        QStringList maps{CommandTemplate::ExpandText("$AUDIO_MAP $FOO $audio_map $", v)};
        for (int index : {2, -1}) {
            SourceInfo source;
            source.audioIndex = index;
            v.TakeSource(source);
            maps.append(CommandTemplate::ExpandText("$AUDIO_MAP", v));
        }
        QCOMPARE(maps, QStringList({"0:a:0? $FOO $audio_map $", "0:a:2?", "-0:a"}));
    }
};

QTEST_GUILESS_MAIN(TestTemplates)
#include "tst_templates.moc"
