// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversiontask.h"
#include "tasklist.h"

#include <QTest>

class TestTaskList : public QObject
{
    Q_OBJECT

private slots:
    void outputName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "/home/u/clip.avi"
                               << "clip";
        QTest::newRow("several dots") << "/v/a.b.c.avi"
                                      << "a.b.c";
        QTest::newRow("no extension") << "/v/clip"
                                      << "";
        QTest::newRow("dot only in a folder") << "/v.d/clip"
                                              << "";
        QTest::newRow("hidden file") << "/v/.avi"
                                     << "";
        QTest::newRow("no folder") << "clip.mp4"
                                   << "clip";
        QTest::newRow("blanks and quotes") << "/v/my \"best\" clip.mov"
                                           << "my \"best\" clip";
    }
    void outputName()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        const ConversionTask task = ConversionTask::ForSource(path, 12.5);
        QCOMPARE(task.outputName, name);
        QCOMPARE(task.title, name);
        QCOMPARE(task.beginSeconds, 0.0);
        QCOMPARE(task.endSeconds, 12.5);
        QCOMPARE(task.state, int(TASK_IDLE));
        QCOMPARE(task.finished, 0);
    }

    void editsAreReadModifyWriteOfCopies()
    {
        TaskList list;
        QCOMPARE(list.Count(), 0);
        QCOMPARE(list.Append(ConversionTask::ForSource("/a.avi", 1)), 0);
        QCOMPARE(list.Append(ConversionTask::ForSource("/b.avi", 2)), 1);
        QCOMPARE(list.Append(ConversionTask::ForSource("/c.avi", 3)), 2);

        ConversionTask copy = list.GetAt(1);
        copy.beginSeconds = 0.5;
        QCOMPARE(list.GetAt(1).beginSeconds, 0.0); // a copy, not a view
        list.SetAt(1, copy);
        QCOMPARE(list.GetAt(1).beginSeconds, 0.5);

        list.RemoveAt(0);
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.GetAt(0).outputName, QString("b"));
        QCOMPARE(list.GetAt(1).outputName, QString("c"));
        QVERIFY(!list.IsValidIndex(2));
        QVERIFY(!list.IsValidIndex(-1));
        list.RemoveAll();
        QCOMPARE(list.Count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTaskList)
#include "tst_tasklist.moc"
