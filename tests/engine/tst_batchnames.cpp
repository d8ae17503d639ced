// SPDX-License-Identifier: GPL-3.0-or-later
// Output names: a batch never overwrites or deletes a file it did not create, whatever is in
// the output folder and however the sources are named; every file name the file system allows
// converts in every output type.
#include "batchfixture.h"
#include "mediacheck.h"
#include "outputnameplanner.h"
#include "taskfiles.h"

#include <QRandomGenerator>
#include <QTest>

using namespace batchtest;

namespace {

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QByteArray Contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestBatchNames : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip;
    int folders = 0;

    QString NewFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("f%1").arg(++folders));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        KeepAwayFromTheSystemBus();
        QVERIFY(dir.isValid());
        QVERIFY(MakeProgramFolder(dir.filePath("program")));
        clip = dir.filePath("clip.mp4");
        QVERIFY(MakeClip(clip, 1.0, "160x120"));
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
        QTest::newRow("two sources of one name from two folders")
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
            QFile f(root + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            before[name] = RandomBytes(4096);
            f.write(before[name]);
        }
        const QString out = root + "/out";
        Batch batch(outputType, out);
        batch.host.profileRow = 0;
        for (const QString &source : sources) {
            QVERIFY(QFile::copy(clip, root + "/" + source));
            before[source] = Contents(root + "/" + source);
            batch.Add(root + "/" + source, 1.0);
        }
        batch.engine.OnStartClicked();

        QStringList planned;
        for (int i = 0; i < batch.tasks.Count(); ++i) {
            planned.append(batch.tasks.GetAt(i).outputName);
            QCOMPARE(batch.tasks.GetAt(i).finished, 1);
            QVERIFY(QFileInfo(batch.OutputOf(i)).size() > 0);
        }
        QCOMPARE(planned, names);
        QCOMPARE(batch.host.outputRepaints, 1); // the Output column shows the new names
        for (auto it = before.begin(); it != before.end(); ++it)
            QVERIFY2(Contents(root + "/" + it.key()) == it.value(), qPrintable(it.key()));
        // Nothing else: the pre-existing files and the outputs.
        QCOMPARE(FilesIn(out).size(),
                 int(std::count_if(before.keyBegin(), before.keyEnd(),
                                   [](const QString &k) { return k.startsWith("out/"); })) +
                     batch.tasks.Count());
    }

    // A dangling link would let a tool create a file somewhere else.
    void danglingLinkIsNotWrittenThrough()
    {
        const QString out = NewFolder();
        const QString target = dir.filePath("elsewhere.3gp");
        QVERIFY(QFile::link(target, out + "/clip.3gp"));
        Batch batch(0, out);
        batch.host.profileRow = 0;
        batch.Add(clip, 1.0);
        batch.engine.OnStartClicked();
        QCOMPARE(batch.tasks.GetAt(0).outputName, QStringLiteral("clip (2)"));
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(QFileInfo(out + "/clip.3gp").isSymLink());
    }

    // The base name a second batch starts from is the source's, not the last batch's.
    void baseName_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("outputName");
        QTest::addColumn<QString>("base");
        QTest::newRow("as added") << "/v/clip.avi"
                                  << "clip"
                                  << "clip";
        QTest::newRow("suffix of an earlier batch") << "/v/clip.avi"
                                                    << "clip (12)"
                                                    << "clip";
        QTest::newRow("the source's own suffix stays") << "/v/clip (2).avi"
                                                       << "clip (2)"
                                                       << "clip (2)";
        QTest::newRow("not our suffix") << "/v/clip.avi"
                                        << "clip (1)"
                                        << "clip (1)";
        QTest::newRow("a name of the page's own") << "/v/clip.avi"
                                                  << "holiday"
                                                  << "holiday";
        QTest::newRow("no extension: the file name") << "/v/clip"
                                                     << ""
                                                     << "clip";
    }
    void baseName()
    {
        QFETCH(QString, source);
        QFETCH(QString, outputName);
        ConversionTask task = ConversionTask::ForSource(source, 1.0);
        task.outputName = outputName;
        QTEST(OutputNamePlanner::BaseName(task), "base");
    }

    // What a killed tool may leave beside a task's files goes; nothing else does.
    void scratchOfAKilledToolIsRemoved()
    {
        const QString out = NewFolder() + "/";
        const auto touch = [&out](const QString &name) {
            QFile f(out + name);
            return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
        };
        QVERIFY(touch("clip-temp-12345.3gp")); // there before the task: not ours
        TaskFiles files(out, "clip");
        files.RememberScratch();
        const QStringList left{"clip-temp-12345.3gp", "clip (2)-temp-11111.3gp",
                               "clip-temp-notes.txt", "clip.3gp.Ab12Cd", "clip_temp.3gp"};
        const QStringList removed{"clip-temp-99999.3gp", "clip-temp-4242.3g2", ".clip.3gp.Ab12Cd",
                                  ".clip_temp_2.3g2.zZ9yY8"};
        for (const QString &name : left + removed)
            QVERIFY(touch(name));
        files.RemoveNewScratch();
        QStringList expected = left;
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
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
        Batch batch(outputType, out);
        batch.host.profileRow = 0;
        for (const QString &name : names) {
            const QString path =
                sources + "/" + name + (name == QLatin1String("no extension") ? "" : ".mp4");
            QVERIFY(QFile::copy(clip, path));
            batch.Add(path, 1.0);
        }
        batch.engine.OnStartClicked();

        QStringList expected;
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(batch.tasks.GetAt(i).outputName, names[i]);
            QVERIFY2(batch.tasks.GetAt(i).finished == 1, qPrintable(names[i] + "\n" + ReadLog()));
            const QJsonObject probe = mediacheck::Probe(batch.OutputOf(i));
            QCOMPARE(mediacheck::StreamCount(probe, "video"), 1);
            QCOMPARE(mediacheck::MediaInfoGeneral(batch.OutputOf(i), "Movie"),
                     batch.tasks.GetAt(i).title);
            expected.append(QFileInfo(batch.OutputOf(i)).fileName());
        }
        expected.sort();
        QCOMPARE(FilesIn(out), expected);
    }
};

QTEST_GUILESS_MAIN(TestBatchNames)
#include "tst_batchnames.moc"
