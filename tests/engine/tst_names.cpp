// SPDX-License-Identifier: GPL-3.0-or-later
// Output names with the real tools: the names a batch gives, a name taken by the user's file,
// by another task, another batch or another program turning into the next number, long and
// hostile names, and kestrani-cli runs side by side into one folder. No file there before a
// batch is ever changed, and every output is whole and of its own name.
#include "engine.h"
#include "files/bytenames.h"

using namespace support;

namespace {

// "root/out" is the output folder, "root/a" and "root/b" source folders.
const QString long1 = QString(240, u'x'), wide = QStringLiteral("\U0001F600").repeated(60);

bool Whole(const QString &path, int type, double seconds = 1.0)
{
    const QJsonObject probe = Probe(path);
    return OutputType::Find(type)->Brands().contains(Brand(probe)) &&
           StreamCount(probe, "audio") == 1 && qAbs(Duration(probe) - seconds) < 0.2;
}

} // namespace

class TestNames : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;
    QString clip;
    int folders = 0;

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()); // the command line's too
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        paths = MakeProgramFolder(dir.filePath("program"));
        clip = SharedClip(Clip{.seconds = 1.0, .sar = {}, .extra = {}}, "movie.mp4");
        QVERIFY(paths.IsValid() && !clip.isEmpty());
    }

    // existing: files there before the batch ("@" at the end: a link to nowhere); late: a file
    // another program makes once the first task runs; runs: batches over the same list; a
    // source marked "!" is trimmed past its end, so that its task fails in pass 1. Names hold
    // bytes that are not UTF-8 as bytenames::Decode keeps them.
    void names_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("late");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("names");
        const QStringList two{"a/clip.mp4", "a/clip.mp4"},
            hostile{"-it's \"quoted\" $TITLE & $OUTPUT_FILE;|\\", "Käse → 日本  two blanks ",
                    "none"},
            hostileSources{"a/" + hostile[0] + ".mp4", "a/" + hostile[1] + ".mp4", "a/none"};
        QTest::newRow("second task named like the first, and again in a second batch")
            << 1 << 1 << 2 << QStringList{} << "" << two << QStringList{"clip (3)", "clip (4)"};
        QTest::newRow("tasks of one source, of sources named alike or alike but for case, at once")
            << 0 << 3 << 1 << QStringList{} << ""
            << QStringList{"a/clip.mp4", "a/clip.mp4", "b/clip.mp4", "b/CLIP.mp4"}
            << QStringList{"clip", "clip (2)", "clip (3)", "CLIP (4)"};
        QTest::newRow("names taken by the user's files: final, temporary, next number, link")
            << 1 << 2 << 1
            << QStringList{"out/fin.3gp",   "out/tmp_temp.3gp",  "out/next.3gp",
                           "out/g2.3g2",    "out/g2_temp_2.3g2", "out/next (2)_temp.3gp",
                           "out/link.3gp@", "out/num (2).3gp"}
            << "" << QStringList{"a/fin.mp4",  "a/tmp.mp4",     "a/next.mp4", "a/g2.mp4",
                                 "a/link.mp4", "a/num (2).mp4", "out/own.3gp"}
            << QStringList{"fin (2)",  "tmp (2)",     "next (3)", "g2",
                           "link (2)", "num (2) (2)", "own (2)"};
        QTest::newRow("sources named like another task's temporary or a tool's scratch file")
            << 1 << 2 << 1 << QStringList{} << ""
            << QStringList{"a/clip.mp4", "out/clip_temp.3gp", "a/clip-temp-123.mp4"}
            << QStringList{"clip (2)", "clip_temp (2)", "clip-temp-123 (2)"};
        QTest::newRow("the name taken by another program after Start")
            << 1 << 1 << 1 << QStringList{} << "out/clip (2).3gp" << two
            << QStringList{"clip", "clip (3)"};
        QTest::newRow("names longer than the folder allows, cut whole")
            << 1 << 2 << 1 << QStringList{} << ""
            << QStringList{"a/" + long1 + ".mp4", "b/" + long1 + ".mp4", "a/" + wide + ".mp4"}
            << QStringList{long1.left(229), long1.left(225) + " (2)", wide.left(114)};
        QTest::newRow("a failed task leaves the files of a task named like its temporary")
            << 1 << 1 << 1 << QStringList{} << "out/clip_temp_2-temp-1782.3gp"
            << QStringList{"a/clip.mp4!", "a/clip_temp_2.mp4"}
            << QStringList{"clip", "clip_temp_2"};
        QTest::newRow("a 3G2 task beside a 3GP task's intermediate: its own first number")
            << 2 << 1 << 1 << QStringList{"out/b_temp.3gp"} << "" << QStringList{"a/b.mp4"}
            << QStringList{"b"};
        QTest::newRow("a source folder and name that are not UTF-8 (Latin-1): readable names")
            << 1 << 2 << 1 << QStringList{} << ""
            << QStringList{bytenames::Decode("a/caf\xe9/d\xe9j\xe0 vu.mp4"),
                           bytenames::Decode("a/caf\xe9/clip.mp4")}
            << QStringList{"déjà vu", "clip"};
        QTest::newRow("hostile names in 3GP with AMR")
            << 0 << 2 << 1 << QStringList{} << "" << hostileSources << hostile;
        QTest::newRow("hostile names, and a user's file of a 3G2 temporary's name")
            << 2 << 2 << 1 << QStringList{"out/none_temp_2.3g2"} << "" << hostileSources
            << QStringList{hostile[0], hostile[1], "none (2)"};
    }
    void names()
    {
        QFETCH(int, type);
        QFETCH(int, jobs);
        QFETCH(int, runs);
        QFETCH(QStringList, existing);
        QFETCH(QString, late);
        QFETCH(QStringList, sources);
        const QString root = NewFolder(dir, folders, "names") + '/';
        QVERIFY(QDir(root).mkdir("out") && QDir(root).mkdir("a") && QDir(root).mkdir("b"));
        // Where the program takes a file of the row: an alias where its name is not UTF-8.
        const auto at = [&root](const QString &name) { return bytenames::PathFor(root + name); };
        QMap<QString, QByteArray> before; // every file there before, and what it holds
        for (const QString &name : existing)
            QVERIFY(name.endsWith('@') ? QFile::link(root + "nowhere", root + name.chopped(1))
                                       : WriteFile(root + name, before[name] = name.toUtf8()));
        const QString out = root + "out";
        Batch batch(paths, type, out);
        batch.engine.SetSimultaneousTasks(jobs);
        for (const QString &source : sources) {
            const QString file = QString(source).remove(u'!');
            ::mkdir(bytenames::Encode(QFileInfo(root + file).path()).constData(), 0777);
            QVERIFY(QFile::exists(at(file)) || WriteFile(at(file), Contents(clip)));
            before[file] = Contents(at(file));
            const double past = source.endsWith(u'!') ? 2.0 : 0.0;
            batch.Add(at(file), past + 1.0, past);
        }
        int repaints = -1;
        batch.host.onProgress = [&](int) {
            if (!late.isEmpty() && repaints < 0) {
                repaints = batch.host.repaints[COL_OUTPUT];
                QVERIFY(WriteFile(root + late, before[late] = "another program's"));
            }
        };
        QStringList outputs, names;
        for (int run = 0; run < runs; ++run) {
            QVERIFY(batch.Run());
            names.clear();
            for (int row = 0; row < batch.tasks.Count(); ++row) {
                names << batch.tasks.GetAt(row).outputName;
                const bool fails = sources.at(row).endsWith(u'!');
                QVERIFY2(batch.Finished(row) != fails, qPrintable(Contents(paths.logFile)));
                QVERIFY(jobs < 3 || Whole(batch.OutputOf(row), type)); // none written over
                if (!fails)
                    outputs << QFileInfo(batch.OutputOf(row)).fileName();
            }
        }
        QTEST(names, "names");
        for (int row = 0; row < batch.tasks.Count(); ++row) // converted anew in every batch
            QCOMPARE(batch.host.states.value(row).count(TASK_ENCODING), runs);
        if (!late.isEmpty() && !late.contains("-temp-")) // a name taken: the new one is shown
            QVERIFY(batch.host.repaints[COL_OUTPUT] > repaints);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(Contents(at(it.key())) == it.value(), qPrintable(it.key()));
        QVERIFY(!QFile::exists(root + "nowhere"));
        for (const QString &name : before.keys() + existing)
            if (name.startsWith("out/"))
                outputs << name.mid(4).remove('@');
        outputs.removeDuplicates();
        outputs.sort();
        QCOMPARE(FilesIn(out), outputs); // every output of its own name, and nothing else
        if (!bytenames::IsUtf8(bytenames::Encode(sources.join(u'|')))) // QDir cannot remove them
            QVERIFY(RunTool("/bin/sh", {"-c", "rm -r \"$0\"", root}).ok());
    }

    // kestrani-cli runs started at once into one folder, each with two tasks side by side, of
    // sources named alike: every output whole, under a name of its own.
    void cliRunsSideBySide()
    {
        const QString out = NewFolder(dir, folders, "cli"), other = dir.filePath("movie.mp4");
        QVERIFY(QFile::exists(other) || QFile::copy(clip, other));
        QProcess runs[3];
        for (QProcess &run : runs)
            run.start(cliProgram, {"-t", "1", "-p", "1", "-j", "2", "-o", out, clip, other});
        for (QProcess &run : runs)
            QVERIFY(run.waitForFinished(60000) && run.exitCode() == 0);
        QStringList expected;
        for (int n = 2; n <= 6; ++n)
            expected << QStringLiteral("movie (%1).3gp").arg(n);
        expected << "movie.3gp";
        QCOMPARE(FilesIn(out), expected);
        for (const QString &name : expected)
            QVERIFY2(Whole(out + '/' + name, 1), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
