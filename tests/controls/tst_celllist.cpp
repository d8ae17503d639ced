// SPDX-License-Identifier: GPL-3.0-or-later
// The task list as the window shows it: every cell filled from the batch by FillTaskCell, and
// checked in the pixels it paints.
#include "cellinfoowner.h"
#include "celllistctrl.h"
#include "taskcell.h"
#include "tasklist.h"

#include <QScrollBar>
#include <QTest>

namespace {

const QColor barColour(0x9a, 0x1e, 0x1c), selectedBack(0x1e, 0x32, 0x60);
const QColor rowBack[] = {QColor(0xb4, 0xb4, 0xff), QColor(0xdc, 0xdc, 0xff)}; // even, odd

// A task of a 60 s source, as the batch holds it: fields in their order of declaration.
ConversionTask Task(const QString &name, int state = TASK_IDLE, double encoded = 0, int done = 0)
{
    return {"/v/" + name, name, 0, 60, name, {}, 0, 0, done, 300, 0, encoded, state};
}

// State, seconds encoded of 60, finished, the Progress column's text, percent of the bar
// filled (-1: no bar).
using Progress = std::tuple<int, double, int, QString, int>;
// Rows, clicks on rows in turn (-1: the empty space below the last), the row selected then.
using Clicks = std::tuple<int, QList<int>, int>;

} // namespace

Q_DECLARE_METATYPE(Progress)
Q_DECLARE_METATYPE(Clicks)

class TestCellList : public QObject, public ICellInfoOwner
{
    Q_OBJECT
    TaskList tasks;
    std::unique_ptr<CCellListCtrl> list;

    void OnGetCellInfo(CellInfo &cell) override { FillTaskCell(tasks, 0, cell); }
    // A list set up as the page sets it up, showing the batch, with the focus as when clicked.
    void Show(const QList<ConversionTask> &batch, int height = 200)
    {
        tasks.RemoveAll();
        for (const ConversionTask &task : batch)
            tasks.Append(task);
        list = std::make_unique<CCellListCtrl>();
        for (int width : {90, 70, 70, 90, 300})
            list->InsertColumn(list->GetColumnCount(), QString(), width);
        list->SetExtendedStyle(LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        list->SetOwner(this);
        list->SetItemCount(tasks.Count());
        list->resize(640, height);
        list->show();
        QVERIFY(QTest::qWaitForWindowActive(list.get()));
    }
    QImage Cell(int row, int column)
    {
        QRect rect;
        list->GetCellRect(row, column, &rect);
        return list->viewport()->grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
    }

private slots:
    void progressColumn_data()
    {
        QTest::addColumn<Progress>("p");
        const int pass1 = TASK_ENCODING, passes23 = TASK_EXPORTING;
        const QString figures = QStringLiteral("00:00:%1  0.29MB  0.00Frames/s  %%2 ");
        QTest::newRow("pass 1, 25 %") << Progress{pass1, 15, 0, figures.arg(15).arg(25), 25};
        QTest::newRow("pass 1, 59.9 s") << Progress{pass1, 59.9, 0, figures.arg(59).arg(100), 100};
        QTest::newRow("passes 2 and 3") << Progress{passes23, 60, 0, "Exporting", -1};
        QTest::newRow("passes 4 and 5 of 3G2") << Progress{TASK_CHANGING, 60, 0, "Changeing", -1};
        QTest::newRow("stopped") << Progress{TASK_CANCELED, 20, 0, "Canceled", -1};
        QTest::newRow("failed") << Progress{TASK_FAILED, 20, 0, "Failed", -1};
        QTest::newRow("finished") << Progress{passes23, 60, 1, " Finished ", -1};
        QTest::newRow("finished in pass 1's state") << Progress{pass1, 30, 1, " Finished ", -1};
    }
    void progressColumn()
    {
        QFETCH(Progress, p);
        const auto [state, encoded, finished, text, percent] = p;
        Show({Task("a.avi", state, encoded, finished), Task("b.avi"), Task("done.avi", 0, 0, 1)});
        list->SetRowHeight(40); // room above and below the text for bare bar
        QCOMPARE(list->GetCellInfo(0, COL_PROGRESS)->text, text);
        // Drawn like the finished task two rows down exactly when it is finished.
        QCOMPARE(Cell(0, COL_PROGRESS) == Cell(2, COL_PROGRESS), text == " Finished ");
        // On a selected row, the bar's unfilled rest keeps the row's own background.
        list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        const QImage cell = Cell(0, COL_PROGRESS);
        const auto *pixels = reinterpret_cast<const QRgb *>(cell.constBits());
        const qsizetype n = cell.width() * cell.height();
        const double bar = std::count(pixels, pixels + n, barColour.rgb()),
                     empty = std::count(pixels, pixels + n, rowBack[0].rgb());
        QVERIFY(percent < 0 ? bar == 0 : qAbs(bar / (bar + empty) - percent / 100.0) < 0.03);
    }

    void longNamesEndInAnEllipsis()
    {
        const QString name = QStringLiteral("a holiday by the sea with the whole family.avi");
        // After the name, on even rows: its beginnings with an ellipsis that fit the column.
        QList<ConversionTask> batch{Task(name)};
        for (int n = 1; QFontMetrics(QFont()).horizontalAdvance(name.left(n) + u'…') <= 90; ++n)
            batch << Task("odd") << Task(name.left(n) + u'…');
        Show(batch, 900);
        int matches = 0;
        for (int row = 2; row < batch.size(); row += 2)
            matches += Cell(row, COL_SOURCE) == Cell(0, COL_SOURCE);
        QVERIFY(matches > 0);
    }

    void clicksAndColours_data()
    {
        QTest::addColumn<Clicks>("c");
        QTest::newRow("rows alternate colours, a failed task's too") << Clicks{3, {}, -1};
        QTest::newRow("a click selects the row under the mouse") << Clicks{3, {1}, 1};
        QTest::newRow("a click elsewhere moves the selection") << Clicks{3, {0, 2}, 2};
        QTest::newRow("a click below the rows unselects") << Clicks{3, {1, -1}, -1};
        QTest::newRow("300 rows scrolled to the end") << Clicks{300, {298}, 298};
    }
    void clicksAndColours()
    {
        QFETCH(Clicks, c);
        const auto [count, clicks, selected] = c;
        QList<ConversionTask> batch;
        for (int i = 0; i < count; ++i)
            batch << Task(QStringLiteral("clip%1.avi").arg(i), i == 2 ? TASK_FAILED : 0, 20);
        Show(batch);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        for (int row : clicks) {
            QRect rect(0, list->viewport()->height() - 4, 4, 4);
            list->GetCellRect(row, COL_BEGIN, &rect);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        }
        for (int row = count - 3; row < count; ++row) // the cell's corner, left of its text
            QCOMPARE(Cell(row, COL_PROGRESS).pixelColor(1, 1),
                     row == selected ? selectedBack : rowBack[row % 2]);
    }
};

QTEST_MAIN(TestCellList)
#include "tst_celllist.moc"
