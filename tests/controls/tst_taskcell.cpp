// SPDX-License-Identifier: GPL-3.0-or-later
#include "taskcell.h"
#include "tasklist.h"

#include <QTest>

namespace {

ConversionTask Running(double begin, double end, double encoded, int sizeKB, double fps = 25.5)
{
    ConversionTask t = ConversionTask::ForSource("/videos/holiday.avi", end);
    t.beginSeconds = begin;
    t.encodedSeconds = encoded;
    t.sizeKB = sizeKB;
    t.framesPerSecond = fps;
    t.state = TASK_ENCODING;
    return t;
}

CellInfo Cell(const ConversionTask &task, int column, int outputType = 0, int row = 0)
{
    TaskList tasks;
    for (int i = 0; i <= row; ++i)
        tasks.Append(task);
    CellInfo cell;
    cell.row = row;
    cell.column = column;
    FillTaskCell(tasks, outputType, cell);
    return cell;
}

} // namespace

// What the task list shows for each task, column and state.
class TestTaskCell : public QObject
{
    Q_OBJECT

private slots:
    void progressColumn_data()
    {
        QTest::addColumn<ConversionTask>("task");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("barPos"); // -1: no bar
        QTest::newRow("progress line")
            << Running(0, 100, 75.3, 2048) << "00:01:15  2.00MB  25.50Frames/s  %75 " << 75;
        QTest::newRow("98 percent stays 98")
            << Running(0, 60, 58.8, 10) << "00:00:58  0.01MB  25.50Frames/s  %98 " << 98;
        QTest::newRow("98.5 percent shows 100")
            << Running(0, 60, 59.1, 10) << "00:00:59  0.01MB  25.50Frames/s  %100 " << 100;
        QTest::newRow("59.9 of 60 shows 100")
            << Running(0, 60, 59.9, 10) << "00:00:59  0.01MB  25.50Frames/s  %100 " << 100;
        QTest::newRow("longer than the range shows 100")
            << Running(10, 20, 30, 10) << "00:00:30  0.01MB  25.50Frames/s  %100 " << 100;
        QTest::newRow("percent relative to the trimmed range")
            << Running(30, 40, 5, 10) << "00:00:05  0.01MB  25.50Frames/s  %50 " << 50;
        QTest::newRow("empty range gives 0 percent")
            << Running(5, 5, 1, 10) << "00:00:01  0.01MB  25.50Frames/s  %0 " << 0;
        QTest::newRow("rounds half up")
            << Running(0, 200, 1.0, 10) << "00:00:01  0.01MB  25.50Frames/s  %1 " << 1;
        QTest::newRow("no time yet: empty, no bar") << Running(0, 60, 0, 100) << "" << -1;
        QTest::newRow("no size yet: empty, no bar") << Running(0, 60, 5, 0) << "" << -1;
        ConversionTask finished = Running(0, 60, 30, 10);
        finished.finished = 1;
        QTest::newRow("finished whatever the state") << finished << " Finished " << -1;
        finished.state = TASK_CHANGING;
        QTest::newRow("finished after the last pass") << finished << " Finished " << -1;
        const QList<QPair<int, QString>> stages{{TASK_IDLE, ""},
                                                {TASK_EXPORTING, "Exporting"},
                                                {TASK_CHANGING, "Changeing"},
                                                {TASK_CANCELED, "Canceled"},
                                                {TASK_FAILED, "Failed"},
                                                {4, ""}};
        for (const auto &[state, text] : stages) {
            ConversionTask t = Running(0, 60, 30, 10);
            t.state = state;
            QTest::newRow(qPrintable(QString("state %1").arg(state))) << t << text << -1;
        }
    }
    void progressColumn()
    {
        QFETCH(ConversionTask, task);
        QFETCH(QString, text);
        QFETCH(int, barPos);
        const CellInfo cell = Cell(task, COL_PROGRESS);
        QCOMPARE(cell.text, text);
        if (barPos < 0) {
            QCOMPARE(cell.progressRange, -1);
            QCOMPARE(cell.barColor, CLR_DEFAULT);
        } else {
            QCOMPARE(cell.progressRange, 100);
            QCOMPARE(cell.progressPos, barPos);
            QCOMPARE(cell.barColor, COLORREF(0x001C1E9A));
        }
        QCOMPARE(cell.barTextColor, CLR_DEFAULT);
        QCOMPARE(cell.barEdge, EDGE_SUNKEN);
        QCOMPARE(cell.image, -1);
    }

    void otherColumns_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("outputType");
        QTest::addColumn<QString>("text");
        QTest::newRow("source is the file name") << "/v/a.b.c.avi" << 0 << 0 << "a.b.c.avi";
        QTest::newRow("source without folder") << "clip.avi" << 0 << 0 << "clip.avi";
        QTest::newRow("begin time") << "/v/a.avi" << 1 << 0 << "01:02:05";
        QTest::newRow("end time with 100 hours") << "/v/a.avi" << 2 << 0 << "100:00:01";
        QTest::newRow("output for 3GP with AMR") << "/v/a.b.avi" << 3 << 0 << "a.b.3gp";
        QTest::newRow("output for 3GP with AAC") << "/v/a.b.avi" << 3 << 1 << "a.b.3gp";
        QTest::newRow("output for 3G2") << "/v/a.b.avi" << 3 << 2 << "a.b.3g2";
        QTest::newRow("output with no type selected") << "/v/a.avi" << 3 << -1 << "";
        QTest::newRow("output for an unknown type") << "/v/a.avi" << 3 << 3 << "";
        QTest::newRow("no such column") << "/v/a.avi" << 5 << 0 << "";
    }
    void otherColumns()
    {
        QFETCH(QString, path);
        QFETCH(int, column);
        QFETCH(int, outputType);
        ConversionTask t = ConversionTask::ForSource(path, 360001.9);
        t.beginSeconds = 3725.9;
        QTEST(Cell(t, column, outputType).text, "text");
    }

    void rowColoursAlternate_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QList<COLORREF>>("colours");
        const QList<COLORREF> even{0x0014050A, 0x00FFB4B4, 0x00781414,
                                   0x0080C8F0, 0x0060321E, 0x00960AAA};
        const QList<COLORREF> odd{0x00280A28, 0x00FFDCDC, 0x00783C14,
                                  0x0080FAF0, 0x0060321E, 0x00960AAA};
        QTest::newRow("row 0") << 0 << even;
        QTest::newRow("row 1") << 1 << odd;
        QTest::newRow("row 4") << 4 << even;
    }
    void rowColoursAlternate()
    {
        QFETCH(int, row);
        QFETCH(QList<COLORREF>, colours);
        const CellInfo c = Cell(Running(0, 10, 5, 5), COL_SOURCE, 0, row);
        QCOMPARE((QList<COLORREF>{c.textColor, c.bkColor, c.selBkColorUnfocused, c.selTextColor,
                                  c.selBkColorFocused, c.hotTextColor}),
                 colours);
    }

    void rowOutsideTheListHasNoText()
    {
        TaskList tasks;
        CellInfo cell;
        cell.row = 3;
        cell.column = COL_SOURCE;
        FillTaskCell(tasks, 0, cell);
        QCOMPARE(cell.text, QString());
        QCOMPARE(cell.bkColor, COLORREF(0x00FFDCDC));
    }
};

QTEST_GUILESS_MAIN(TestTaskCell)
#include "tst_taskcell.moc"
