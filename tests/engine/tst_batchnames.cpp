// SPDX-License-Identifier: GPL-3.0-or-later
// The batch end to end with the shipped profiles and the real tools: each output type's passes
// and states, the files read back, sample media, tasks side by side, and output names. A batch
// never overwrites or deletes a file it did not create, whatever is in the output folder, and
// every name the file system allows converts in every output type.
#include "batchfixture.h"
#include "mediacheck.h"

#include <QSet>

using namespace batchtest;
using namespace mediacheck;

namespace {

double FrameRate(const QJsonObject &video)
{
    const QStringList parts = video["avg_frame_rate"].toString().split('/');
    const double den = parts.value(1).toDouble();
    return den > 0 ? parts.value(0).toDouble() / den : 0.0;
}

} // namespace

class TestBatchNames : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    EnginePaths paths;
    QString clip;   // 1 s 160x120 with sound
    QString larger; // 2 s 320x240 with sound
    int folders = 0;

    QString NewFolder() { return NewNumberedFolder(dir, folders, QStringLiteral("f")); }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        paths = MakeProgramFolder(dir.filePath("program"));
        QVERIFY(paths.IsValid());
        clip = dir.filePath("clip.mp4");
        larger = dir.filePath("larger.mp4");
        QVERIFY(MakeToneClip(clip, 1.0, "160x120"));
        QVERIFY(MakeToneClip(larger, 2.0, "320x240"));
    }

    // The default profile of each type, a trimmed clip: the states of its passes, only the
    // output left, the buttons and settings back, and the file read back: its brand, the trim's
    // length and the title. (What each profile makes is the conformance test's business.)
    void eachTypeConverts_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<QList<int>>("states");
        QTest::newRow("3GP with AMR") << 0 << QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED};
        QTest::newRow("3GP with AAC") << 1 << QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED};
        QTest::newRow("3G2 with AAC")
            << 2 << QList<int>{TASK_ENCODING, TASK_EXPORTING, TASK_CHANGING, FINISHED};
    }
    void eachTypeConverts()
    {
        QFETCH(int, outputType);
        QFETCH(QList<int>, states);

        const QString out = NewFolder();
        Batch batch(paths, outputType, out);
        batch.engine.LoadProfiles(outputType);
        batch.Add(larger, 1.4, 0.4); // the trim: 1 s from 0.4 s on
        QVERIFY(batch.Run());

        QCOMPARE(batch.host.states.value(0), states);
        QCOMPARE(FilesIn(out), QStringList{batch.OutputName(0)}); // intermediates gone
        QCOMPARE(batch.host.buttons, (QList<bool>{true, false}));
        QCOMPARE(batch.host.settings, (QList<bool>{false, true}));
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, finishedText);
        QCOMPARE(batch.host.messages[0].caption, QStringLiteral("Information"));
        QCOMPARE(batch.engine.UnfinishedTasks(), 0);

        const QJsonObject probe = Probe(batch.OutputOf(0));
        QVERIFY2(OutputType::Find(outputType)->Brands().contains(Brand(probe)),
                 qPrintable(Brand(probe)));
        QCOMPARE(StreamCount(probe, "audio"), 1);
        QVERIFY2(qAbs(Duration(probe) - 1.0) <= 1.0 / FrameRate(StreamOf(probe, "video")) + 1e-3,
                 qPrintable(QString::number(Duration(probe))));
        QCOMPARE(MediaInfoGeneral(batch.OutputOf(0), "Movie"), QStringLiteral("larger"));
    }

    // Sources with the traits phones' files and old cameras' files have.
    void sampleMedia_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("outputType");
        QTest::addColumn<double>("begin");
        QTest::addColumn<double>("end");
        QTest::newRow("rotated phone clip, blank in the name, to AMR")
            << "sideways movie.mov" << 0 << 0.0 << 1.0;
        QTest::newRow("non-square pixels, no sound, trimmed, to AAC")
            << "sar_2x1.mp4" << 1 << 1.0 << 2.0;
        QTest::newRow("5.1 sound and rotation, trimmed, to 3G2")
            << "rotate-buck-bunny.mp4" << 2 << 0.5 << 1.5;
        QTest::newRow("interlaced camcorder clip to 3G2")
            << "filetype_fixture-raw.mts" << 2 << 0.0 << -1.0;
    }
    void sampleMedia()
    {
        QFETCH(QString, file);
        QFETCH(int, outputType);
        QFETCH(double, begin);
        QFETCH(double, end);

        const QString source = QStringLiteral(KESTRANI_MEDIA_DIR "/") + file;
        const double trimEnd = end < 0 ? Duration(Probe(source)) : end;
        QVERIFY(trimEnd > begin);
        const QString out = NewFolder();
        Batch batch(paths, outputType, out); // the smallest profile: the sources are the point
        batch.Add(source, trimEnd, begin);
        QVERIFY(batch.Run());

        QVERIFY2(batch.Finished(0), qPrintable(ReadLog(paths)));
        QCOMPARE(FilesIn(out), QStringList{batch.OutputName(0)});
        const QJsonObject probe = Probe(batch.OutputOf(0));
        QCOMPARE(StreamCount(probe, "video"), 1);
        QCOMPARE(StreamCount(probe, "audio"), qMin(1, StreamCount(Probe(source), "audio")));
        const double frame = 1.0 / FrameRate(StreamOf(probe, "video"));
        QVERIFY2(qAbs(Duration(probe) - (trimEnd - begin)) <= frame + 1e-3,
                 qPrintable(QStringLiteral("%1 for %2").arg(Duration(probe)).arg(trimEnd - begin)));
    }

    // Tasks side by side: every one converts into a name of its own, each running row shows
    // its own passes, and never more run at once than asked. One at a time keeps list order.
    void tasksSideBySide_data()
    {
        QTest::addColumn<int>("simultaneous");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("two at once") << 2;
        QTest::newRow("three at once") << 3;
    }
    void tasksSideBySide()
    {
        QFETCH(int, simultaneous);
        const QString out = NewFolder();
        Batch batch(paths, 0, out);
        batch.engine.SetSimultaneousTasks(simultaneous);
        for (int i = 0; i < 4; ++i)
            batch.Add(clip, 1.0);
        QList<QPair<int, int>> order; // (row, state) as the rows changed
        QSet<int> running;
        int mostRunning = 0;
        batch.host.onProgress = [&](int row) {
            const int state = batch.host.states[row].last();
            if (!order.isEmpty() && order.last() == qMakePair(row, state))
                return;
            order.append({row, state});
            if (state == FINISHED)
                running.remove(row);
            else
                running.insert(row);
            mostRunning = qMax(mostRunning, int(running.size()));
        };
        QVERIFY(batch.Run());

        QStringList names;
        for (int row = 0; row < 4; ++row) {
            QVERIFY2(batch.Finished(row), qPrintable(ReadLog(paths)));
            QCOMPARE(batch.host.states.value(row),
                     (QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED}));
            QVERIFY(Probe(batch.OutputOf(row))["format"].isObject());
            names.append(batch.OutputName(row));
        }
        QCOMPARE(names, (QStringList{"clip.3gp", "clip (2).3gp", "clip (3).3gp", "clip (4).3gp"}));
        names.sort();
        QCOMPARE(FilesIn(out), names);
        QVERIFY(mostRunning <= simultaneous);
        if (simultaneous == 1) {
            QList<QPair<int, int>> expected;
            for (int row = 0; row < 4; ++row)
                for (int state : {int(TASK_ENCODING), int(TASK_EXPORTING), FINISHED})
                    expected.append({row, state});
            QCOMPARE(order, expected);
        } else {
            QVERIFY2(mostRunning >= 2, "the tasks ran one after another");
        }
        QCOMPARE(batch.host.messages.size(), 1);
        QCOMPARE(batch.host.messages[0].text, finishedText);
    }

    // "out/" is the output folder, "a/" and "b/" two source folders; every file listed in
    // `existing` is there before the batch with contents of its own.
    void collisionsKeepEveryFile_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("the user's own final file")
            << 0 << QStringList{"out/clip.3gp"} << QStringList{"a/clip.mp4"}
            << QStringList{"clip (2)"};
        QTest::newRow("the user's own temporary name")
            << 1 << QStringList{"out/clip_temp.3gp"} << QStringList{"a/clip.mp4"}
            << QStringList{"clip (2)"};
        QTest::newRow("the second intermediate of a 3G2")
            << 2 << QStringList{"out/clip_temp_2.3g2"} << QStringList{"a/clip.mp4"}
            << QStringList{"clip (2)"};
        QTest::newRow("a 3G2 name does not block a 3GP")
            << 0 << QStringList{"out/clip.3g2", "out/clip_temp_2.3g2"} << QStringList{"a/clip.mp4"}
            << QStringList{"clip"};
        QTest::newRow("two sources of one name from two folders, side by side")
            << 1 << QStringList{} << QStringList{"a/clip.mp4", "b/clip.mp4"}
            << QStringList{"clip", "clip (2)"};
        QTest::newRow("names differing in case only")
            << 1 << QStringList{} << QStringList{"a/clip.mp4", "b/CLIP.mp4"}
            << QStringList{"clip", "CLIP (2)"};
        QTest::newRow("a 3GP source converted into its own folder")
            << 0 << QStringList{} << QStringList{"out/clip.3gp"} << QStringList{"clip (2)"};
        QTest::newRow("a source named like another task's temporary file")
            << 1 << QStringList{} << QStringList{"a/clip.mp4", "out/clip_temp.3gp"}
            << QStringList{"clip (2)", "clip_temp (2)"};
        QTest::newRow("the next suffix taken too")
            << 1 << QStringList{"out/clip.3gp", "out/clip (2)_temp.3gp"}
            << QStringList{"a/clip.mp4"} << QStringList{"clip (3)"};
        QTest::newRow("a source already named with a suffix")
            << 1 << QStringList{"out/clip (2).3gp"} << QStringList{"a/clip (2).mp4"}
            << QStringList{"clip (2) (2)"};
    }
    void collisionsKeepEveryFile()
    {
        QFETCH(int, outputType);
        QFETCH(QStringList, existing);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, names);

        const QString root = NewFolder();
        for (const char *sub : {"out", "a", "b"})
            QDir(root).mkdir(sub);
        QMap<QString, QByteArray> before;
        for (const QString &name : existing) {
            before[name] = ("the user's " + name).toUtf8().repeated(100);
            QVERIFY(WriteFile(root + "/" + name, before[name]));
        }
        const QString out = root + "/out";
        Batch batch(paths, outputType, out);
        batch.engine.SetSimultaneousTasks(2);
        for (const QString &source : sources) {
            QVERIFY(QFile::copy(clip, root + "/" + source));
            before[source] = Contents(root + "/" + source);
            batch.Add(root + "/" + source, 1.0);
        }
        QVERIFY(batch.Run());

        QStringList planned;
        for (int i = 0; i < batch.tasks.Count(); ++i) {
            planned.append(batch.tasks.GetAt(i).outputName);
            QVERIFY2(batch.Finished(i), qPrintable(ReadLog(paths)));
        }
        QCOMPARE(planned, names);
        QVERIFY(batch.host.Repaints(COL_OUTPUT) >= 1); // the Output column shows the new names
        for (auto it = before.begin(); it != before.end(); ++it)
            QVERIFY2(Contents(root + "/" + it.key()) == it.value(), qPrintable(it.key()));
        // Nothing else: the files there before and the outputs.
        QCOMPARE(FilesIn(out).size(),
                 int(std::count_if(before.keyBegin(), before.keyEnd(),
                                   [](const QString &k) { return k.startsWith("out/"); })) +
                     batch.tasks.Count());
    }

    // A name planned at Start and taken by another program before its task starts: the task
    // takes the next free number, its Output cell is repainted, the other file stays as it was.
    void nameTakenAfterStart_data()
    {
        QTest::addColumn<QString>("intruder");
        QTest::addColumn<QString>("name");
        QTest::newRow("the output name") << "clip (2).3gp"
                                         << "clip (3)";
        QTest::newRow("the temporary name") << "clip (2)_temp.3gp"
                                            << "clip (3)";
    }
    void nameTakenAfterStart()
    {
        QFETCH(QString, intruder);
        QFETCH(QString, name);
        const QString out = NewFolder();
        Batch batch(paths, 1, out);
        batch.Add(clip, 1.0);
        batch.Add(clip, 1.0);
        const QByteArray theirs("another program's file");
        int repaintsAtIntrusion = -1;
        batch.host.onProgress = [&](int row) {
            if (row == 0 && repaintsAtIntrusion < 0) {
                QVERIFY(WriteFile(out + "/" + intruder, theirs));
                repaintsAtIntrusion = batch.host.Repaints(COL_OUTPUT);
            }
        };
        QVERIFY(batch.Run());
        QCOMPARE(batch.tasks.GetAt(1).outputName, name);
        QVERIFY(batch.Finished(0) && batch.Finished(1));
        QVERIFY(batch.host.Repaints(COL_OUTPUT) > repaintsAtIntrusion);
        QCOMPARE(Contents(out + "/" + intruder), theirs);
        QStringList expected{"clip (3).3gp", intruder, "clip.3gp"};
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
    }

    // A dangling link would let a tool create a file somewhere else.
    void danglingLinkIsNotWrittenThrough()
    {
        const QString out = NewFolder();
        const QString target = dir.filePath("elsewhere.3gp");
        QVERIFY(QFile::link(target, out + "/clip.3gp"));
        Batch batch(paths, 0, out);
        batch.Add(clip, 1.0);
        QVERIFY(batch.Run());
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("clip (2)"));
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(QFileInfo(out + "/clip.3gp").isSymLink());
    }

    // A second batch over the same list converts every task again, into new names taken
    // from the source's name (not "clip (2) (2)").
    void secondBatchConvertsAgain()
    {
        const QString out = NewFolder();
        Batch batch(paths, 0, out);
        batch.Add(clip, 1.0);
        QVERIFY(batch.Run());
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("clip"));
        batch.host.states.clear();
        QVERIFY(batch.Run());
        QCOMPARE(batch.host.states.value(0), (QList<int>{TASK_ENCODING, TASK_EXPORTING, FINISHED}));
        QCOMPARE(FilesIn(out), (QStringList{"clip (2).3gp", "clip.3gp"}));
        QVERIFY(batch.Run());
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("clip (3)"));
    }

    void oddNamesConvertInEveryType_data()
    {
        QTest::addColumn<int>("outputType");
        QTest::newRow("3GP with AMR") << 0;
        QTest::newRow("3GP with AAC") << 1;
        QTest::newRow("3G2 with AAC") << 2;
    }
    void oddNamesConvertInEveryType()
    {
        QFETCH(int, outputType);
        const QStringList names{
            "two  blanks ", "it's \"quoted\"", "back\\slash", "$TITLE and $OUTPUT_FILE",
            "wow!",         "-leading dash",   "Käse → 日本", "semi;colon|pipe&amp",
            "no extension"};
        const QString sources = NewFolder();
        const QString out = NewFolder();
        Batch batch(paths, outputType, out);
        batch.engine.SetSimultaneousTasks(2);
        for (const QString &name : names) {
            const QString path =
                sources + "/" + name + (name == QLatin1String("no extension") ? "" : ".mp4");
            QVERIFY(QFile::copy(clip, path));
            batch.Add(path, 1.0);
        }
        QVERIFY(batch.Run());

        QStringList expected;
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(batch.tasks.GetAt(i).outputName, names[i]);
            QVERIFY2(batch.Finished(i), qPrintable(names[i] + "\n" + ReadLog(paths)));
            QCOMPARE(MediaInfoGeneral(batch.OutputOf(i), "Movie"), batch.tasks.GetAt(i).title);
            expected.append(batch.OutputName(i));
        }
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
    }
};

QTEST_GUILESS_MAIN(TestBatchNames)
#include "tst_batchnames.moc"
