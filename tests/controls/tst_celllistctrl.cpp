// SPDX-License-Identifier: GPL-3.0-or-later
#include "cellinfoowner.h"
#include "celllistctrl.h"
#include "imagelist.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <set>

namespace {

const QColor white(255, 255, 255);
const QColor black(0, 0, 0);
const QColor highlight(0, 0, 200);
const QColor highlightText(255, 255, 0);
const QColor buttonFace(192, 192, 192);
const QColor hotLight(0, 128, 0);

// An owner that answers with whatever the test sets and remembers what it was asked.
class RecordingOwner : public ICellInfoOwner
{
public:
    std::function<void(CellInfo &)> answer;
    std::vector<std::pair<int, int>> asked;
    std::vector<CellHitInfo> clicks;
    std::vector<HeaderClickInfo> headerClicks;

    void OnGetCellInfo(CellInfo &info) override
    {
        asked.emplace_back(info.row, info.column);
        if (answer)
            answer(info);
    }
    void OnCellClicked(const CellHitInfo &hit) override { clicks.push_back(hit); }
    void OnHeaderRClicked(const HeaderClickInfo &h) override { headerClicks.push_back(h); }
    std::set<std::pair<int, int>> AskedSet() const { return {asked.begin(), asked.end()}; }
};

// A window with the list and an edit to take the focus away from it, in known colours and an
// unsmoothed font so text pixels have exact colours.
struct ListWindow {
    QWidget window;
    CCellListCtrl *list;
    QLineEdit *other;
    RecordingOwner owner;

    explicit ListWindow(int rows = 10)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        list = new CCellListCtrl(&window);
        other = new QLineEdit(&window);
        layout->addWidget(list);
        layout->addWidget(other);
        QPalette pal = list->palette();
        pal.setColor(QPalette::Base, white);
        pal.setColor(QPalette::Text, black);
        pal.setColor(QPalette::Highlight, highlight);
        pal.setColor(QPalette::HighlightedText, highlightText);
        pal.setColor(QPalette::Button, buttonFace);
        pal.setColor(QPalette::Link, hotLight);
        list->setPalette(pal);
        QFont font = list->font();
        font.setStyleStrategy(QFont::NoAntialias);
        list->setFont(font);
        list->SetRowHeight(20);
        const char *headers[] = {"Source", "Begin Time", "End Time", "Output", "Progress"};
        for (int i = 0; i < 5; ++i)
            list->InsertColumn(i, headers[i], i == 4 ? 207 : 100);
        list->SetOwner(&owner);
        list->SetItemCount(rows);
        window.resize(700, 300);
        window.show();
        window.activateWindow();
    }

    bool Ready() { return QTest::qWaitForWindowActive(&window); }
    QRect Cell(int row, int column) const
    {
        QRect r;
        list->GetCellRect(row, column, &r);
        return r;
    }
    QImage Grab() { return list->viewport()->grab().toImage(); }
};

int CountColour(const QImage &image, const QRect &area, const QColor &colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

// Columns holding a pixel of the colour inside area.
std::vector<int> ColumnsWith(const QImage &image, const QRect &area, const QColor &colour)
{
    std::vector<int> xs;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (image.pixelColor(x, y) == colour) {
                xs.push_back(x);
                break;
            }
    return xs;
}

} // namespace

class TestCellListCtrl : public QObject
{
    Q_OBJECT
private slots:
    void cellColours_data();
    void cellColours();
    void progressBar_data();
    void progressBar();
    void twoToneText_data();
    void twoToneText();
    void textIsLiteralAndOneLine();
    void imageCell();
    void invalidateCells_data();
    void invalidateCells();
    void invalidateOnEmptyList();
    void ownerThatAnswersNothing();
    void mouseMovementAsksNothing();
    void clicks_data();
    void clicks();
    void headerRightClick();
    void itemStates();
};

void TestCellListCtrl::cellColours_data()
{
    QTest::addColumn<bool>("select");
    QTest::addColumn<bool>("focus");
    QTest::addColumn<bool>("showAlways");
    QTest::addColumn<bool>("fullRow");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("hot");
    QTest::addColumn<quint32>("bk");
    QTest::addColumn<quint32>("selBkFocused");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("text");

    const quint32 def = CLR_DEFAULT;
    QTest::newRow("plain row") << false << true << true << true << 1 << -1 << def << def << white
                               << black;
    QTest::newRow("selected with focus")
        << true << true << true << true << 1 << -1 << def << def << highlight << highlightText;
    QTest::newRow("selected, focus elsewhere, shown always")
        << true << false << true << true << 1 << -1 << def << def << buttonFace << black;
    QTest::newRow("selected, focus elsewhere, not shown")
        << true << false << false << true << 1 << -1 << def << def << white << black;
    QTest::newRow("column 1 without full-row select")
        << true << true << true << false << 1 << -1 << def << def << white << black;
    QTest::newRow("column 0 without full-row select fills only behind the text")
        << true << true << true << false << 0 << -1 << def << def << white << highlightText;
    QTest::newRow("owner background is BGR")
        << false << true << true << true << 2 << -1 << quint32(0x00FF0000) << def
        << QColor(0, 0, 255) << black;
    QTest::newRow("owner selection colour with focus")
        << true << true << true << true << 3 << -1 << def << quint32(0x0000FF00)
        << QColor(0, 255, 0) << highlightText;
    QTest::newRow("hot row text") << false << true << true << true << 1 << 3 << def << def << white
                                  << hotLight;
    QTest::newRow("hot selected row")
        << true << true << true << true << 1 << 3 << def << def << hotLight << highlightText;
}

void TestCellListCtrl::cellColours()
{
    QFETCH(bool, select);
    QFETCH(bool, focus);
    QFETCH(bool, showAlways);
    QFETCH(bool, fullRow);
    QFETCH(int, column);
    QFETCH(int, hot);
    QFETCH(quint32, bk);
    QFETCH(quint32, selBkFocused);
    QFETCH(QColor, fill);
    QFETCH(QColor, text);

    ListWindow w;
    QVERIFY(w.Ready());
    w.list->SetExtendedStyle(LVS_EX_FULLROWSELECT, fullRow ? LVS_EX_FULLROWSELECT : 0);
    w.list->SetShowSelectionAlways(showAlways);
    w.list->SetHotItem(hot);
    w.owner.answer = [&](CellInfo &c) {
        c.text = QStringLiteral("IIII");
        c.bkColor = bk;
        c.selBkColorFocused = selBkFocused;
    };
    if (select)
        w.list->SetItemState(3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    if (focus)
        w.list->setFocus();
    else
        w.other->setFocus();
    QTRY_COMPARE(w.list->hasFocus(), focus);

    const QImage image = w.Grab();
    const QRect cell = w.Cell(3, column);
    // The far end of the cell holds no text: it shows the cell's fill.
    QCOMPARE(image.pixelColor(cell.right() - 2, cell.center().y()), fill);
    QVERIFY2(CountColour(image, cell, text) > 0, "no text pixel in the expected colour");
}

void TestCellListCtrl::progressBar_data()
{
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("filled"); // pixels of the 200-pixel interior, -1: no bar

    QTest::newRow("half of the range fills half") << 100 << 50 << 100;
    QTest::newRow("zero shows an empty bar") << 100 << 0 << 0;
    QTest::newRow("negative position shows an empty bar") << 100 << -7 << 0;
    QTest::newRow("a third truncates") << 3 << 1 << 66;
    QTest::newRow("position at the range fills it") << 100 << 100 << 200;
    QTest::newRow("position beyond the range fills it") << 100 << 250 << 200;
    QTest::newRow("range zero means no bar") << 0 << 50 << -1;
    QTest::newRow("negative range means no bar") << -1 << 50 << -1;
}

void TestCellListCtrl::progressBar()
{
    QFETCH(int, range);
    QFETCH(int, pos);
    QFETCH(int, filled);

    ListWindow w;
    QVERIFY(w.Ready());
    const QColor orange(255, 128, 0);
    w.owner.answer = [&](CellInfo &c) {
        if (c.column != 4)
            return;
        c.progressRange = range;
        c.progressPos = pos;
        c.barColor = 0x000080FF;
    };
    const QImage image = w.Grab();
    const QRect cell = w.Cell(1, 4);
    // Frame: one pixel in from the label's left and top, two from its right, one from its
    // bottom; the interior two more on every side.
    const QRect inner(cell.x() + 3, cell.y() + 3, cell.width() - 7, cell.height() - 6);
    QCOMPARE(inner.width(), 200);
    const QRect scan(inner.x(), inner.y() + 1, inner.width(), 1);
    if (filled < 0) {
        QCOMPARE(CountColour(image, cell, orange), 0);
        QCOMPARE(CountColour(image, cell, white), cell.width() * cell.height());
        return;
    }
    QCOMPARE(CountColour(image, scan, orange), filled);
    if (filled > 0)
        QCOMPARE(image.pixelColor(inner.x(), inner.y()), orange);
    if (filled < 200)
        QCOMPARE(image.pixelColor(inner.x() + filled, inner.y()), white);
    // The sunken edge: shadow on the outer top-left, the window colour around the frame.
    const QPalette pal = w.list->palette();
    QCOMPARE(image.pixel(inner.x() - 2, inner.y() - 2), pal.color(QPalette::Dark).rgb());
    QCOMPARE(image.pixel(inner.x() - 1, inner.y() - 1), pal.color(QPalette::Shadow).rgb());
    QCOMPARE(image.pixelColor(cell.x(), cell.y()), white);
}

void TestCellListCtrl::twoToneText_data()
{
    QTest::addColumn<bool>("selected");
    QTest::newRow("unselected row") << false;
    QTest::newRow("selected row keeps the normal colours inside the bar") << true;
}

void TestCellListCtrl::twoToneText()
{
    QFETCH(bool, selected);
    ListWindow w;
    QVERIFY(w.Ready());
    w.list->SetExtendedStyle(LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    w.list->SetShowSelectionAlways(true);
    w.owner.answer = [](CellInfo &c) {
        if (c.column != 4)
            return;
        c.text = QString(40, QLatin1Char('I'));
        c.progressRange = 100;
        c.progressPos = 50;
        c.barColor = 0x000080FF;
    };
    if (selected)
        w.list->SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    w.list->setFocus();
    QTRY_VERIFY(w.list->hasFocus());
    const QImage image = w.Grab();
    const QRect cell = w.Cell(2, 4);
    const QRect inner(cell.x() + 3, cell.y() + 3, 200, cell.height() - 6);
    const int edge = inner.x() + 100;
    const auto overBar = ColumnsWith(image, inner, highlightText);
    const auto rest = ColumnsWith(image, inner, black);
    QVERIFY(!overBar.empty());
    QVERIFY(!rest.empty());
    QVERIFY2(overBar.back() < edge, "bar text colour right of the fill edge");
    QVERIFY2(rest.front() >= edge, "normal text colour left of the fill edge");
    // The interior right of the fill keeps the unselected background.
    QCOMPARE(image.pixelColor(inner.right(), inner.y()), white);
    if (selected) // only the margin around the bar takes the selection colour
        QCOMPARE(image.pixelColor(cell.x(), cell.y()), highlight);
}

void TestCellListCtrl::textIsLiteralAndOneLine()
{
    ListWindow w;
    QVERIFY(w.Ready());
    const QString longText(80, QLatin1Char('W'));
    w.owner.answer = [&](CellInfo &c) {
        if (c.row == 0)
            c.text = c.column == 0 ? QStringLiteral("a&b.avi") : c.column == 1 ? longText : "";
    };
    const QImage image = w.Grab();
    const QFontMetrics metrics(w.list->font());

    const QRect first = w.Cell(0, 0);
    const auto ink = ColumnsWith(image, first, black);
    QVERIFY(!ink.empty());
    const int inkWidth = ink.back() - ink.front() + 1;
    const int withAmpersand = metrics.horizontalAdvance(QStringLiteral("a&b.avi"));
    const int without = metrics.horizontalAdvance(QStringLiteral("ab.avi"));
    QVERIFY2(qAbs(inkWidth - withAmpersand) < qAbs(inkWidth - without),
             "the ampersand is not drawn");

    // Long text stays in its cell and its row: cut with an ellipsis, never wrapped.
    const QRect second = w.Cell(0, 1);
    QVERIFY(CountColour(image, second, black) > 0);
    QCOMPARE(CountColour(image, w.Cell(1, 1), black), 0);
    QCOMPARE(CountColour(image, w.Cell(0, 2), black), 0);
    const auto longInk = ColumnsWith(image, second, black);
    QVERIFY(longInk.back() < second.right());
    // An ellipsis is narrower than a W: the last inked columns are dots.
    const QRect tail(longInk.back() - 1, second.y(), 2, second.height());
    QVERIFY(CountColour(image, tail, black) <= 4);
}

void TestCellListCtrl::imageCell()
{
    ListWindow w;
    QVERIFY(w.Ready());
    CImageList images(16, 16);
    QPixmap red(16, 16);
    red.fill(Qt::red);
    QCOMPARE(images.Add(red), 0);
    w.list->SetImageList(&images);
    w.list->SetExtendedStyle(LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    w.owner.answer = [](CellInfo &c) {
        QVERIFY(c.imageList != nullptr);
        c.image = c.column == 1 ? 0 : -1;
    };
    w.list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    w.list->setFocus();
    QTRY_VERIFY(w.list->hasFocus());
    const QImage image = w.Grab();
    const QRect plain = w.Cell(0, 1);
    const QPoint at(plain.x() + 1, plain.y() + (plain.height() - 16) / 2);
    QCOMPARE(image.pixelColor(at), QColor(Qt::red));
    QCOMPARE(image.pixelColor(at + QPoint(15, 15)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(at + QPoint(16, 0)), white);
    // A selected cell's image is blended with the selection colour.
    const QColor blended = image.pixelColor(at + QPoint(0, w.Cell(1, 1).y() - plain.y()));
    QVERIFY(blended != QColor(Qt::red));
    QVERIFY(blended.blue() > 50 && blended.red() > 50);
}

void TestCellListCtrl::invalidateCells_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("expectFirst");
    QTest::addColumn<int>("expectLast");

    QTest::newRow("a run across the view is cut to the visible rows") << 0 << 100 << 3 << 2 << 8;
    QTest::newRow("one progress cell") << 5 << 5 << 4 << 5 << 5;
    QTest::newRow("rows above the view") << 0 << 1 << 3 << 0 << -1;
    QTest::newRow("rows below the view") << 9 << 9 << 3 << 0 << -1;
    QTest::newRow("column out of range") << 3 << 3 << 7 << 0 << -1;
}

void TestCellListCtrl::invalidateCells()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, column);
    QFETCH(int, expectFirst);
    QFETCH(int, expectLast);

    ListWindow w;
    QVERIFY(w.Ready());
    // Six whole rows and part of a seventh.
    w.list->setFixedHeight(w.list->height() - w.list->viewport()->height() + 6 * 20 + 10);
    QTRY_COMPARE(w.list->GetCountPerPage(), 6);
    w.list->verticalScrollBar()->setValue(2);
    QCOMPARE(w.list->GetTopIndex(), 2);
    QCoreApplication::processEvents();
    w.owner.asked.clear();

    w.list->InvalidateCells(first, last, column, false);
    QVERIFY2(w.owner.asked.empty(), "the request itself asked the owner");
    QCoreApplication::processEvents();
    std::set<std::pair<int, int>> expected;
    for (int row = expectFirst; row <= expectLast; ++row)
        expected.insert({row, column});
    QCOMPARE(w.owner.AskedSet(), expected);
}

void TestCellListCtrl::invalidateOnEmptyList()
{
    ListWindow w(0);
    QVERIFY(w.Ready());
    QCoreApplication::processEvents();
    w.list->InvalidateCells(0, 0, 0, true);
    QCoreApplication::processEvents();
    QVERIFY(w.owner.asked.empty());
}

void TestCellListCtrl::ownerThatAnswersNothing()
{
    ListWindow w;
    w.list->SetOwner(nullptr);
    QVERIFY(w.Ready());
    CellInfo *info = w.list->GetCellInfo(4, 2);
    QCOMPARE(info->row, 4);
    QCOMPARE(info->column, 2);
    QVERIFY(info->text.isEmpty());
    QCOMPARE(info->progressRange, -1);
    QCOMPARE(info->image, -1);
    const QImage image = w.Grab();
    const QRect rows = w.Cell(0, 0).united(w.Cell(3, 4));
    QCOMPARE(CountColour(image, rows, white), rows.width() * rows.height());
    QSignalSpy clicks(w.list, &CCellListCtrl::listClicked);
    QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, w.Cell(2, 1).center());
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(w.list->GetSelectionMark(), 2);
}

void TestCellListCtrl::mouseMovementAsksNothing()
{
    ListWindow w;
    QVERIFY(w.Ready());
    QCoreApplication::processEvents();
    w.owner.asked.clear();
    for (int row = 0; row < 5; ++row)
        QTest::mouseMove(w.list->viewport(), w.Cell(row, 1).center());
    QCoreApplication::processEvents();
    QVERIFY(w.owner.asked.empty());
    QCOMPARE(w.list->GetHotItem(), -1);
}

void TestCellListCtrl::clicks_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("row"); // -1: below the last row
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("markAfter");
    QTest::addColumn<int>("cellClicks");

    QTest::newRow("left click selects the row and sets the mark")
        << "left" << 3 << QList<int>{NM_CLICK} << 3 << 1;
    QTest::newRow("click below the last row keeps the mark")
        << "left" << -1 << QList<int>{NM_CLICK} << 1 << 0;
    QTest::newRow("right click selects too") << "right" << 2 << QList<int>{NM_RCLICK} << 2 << 0;
    QTest::newRow("double click") << "double" << 4 << QList<int>{NM_CLICK, NM_DBLCLK} << 4 << 1;
    QTest::newRow("right double click")
        << "rdouble" << 0 << QList<int>{NM_RCLICK, NM_RDBLCLK} << 0 << 0;
}

void TestCellListCtrl::clicks()
{
    QFETCH(QString, gesture);
    QFETCH(int, row);
    QFETCH(QList<int>, codes);
    QFETCH(int, markAfter);
    QFETCH(int, cellClicks);

    ListWindow w(5);
    QVERIFY(w.Ready());
    w.list->SetSelectionMark(1);
    w.list->SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    QList<int> seen;
    QList<int> marks;
    connect(w.list, &CCellListCtrl::listClicked, w.list, [&](int code) {
        seen << code;
        marks << w.list->GetSelectionMark();
    });
    const QPoint at =
        row >= 0 ? w.Cell(row, 2).center() : w.Cell(4, 2).center() + QPoint(0, 3 * 20);
    QWidget *vp = w.list->viewport();
    if (gesture == "left")
        QTest::mouseClick(vp, Qt::LeftButton, {}, at);
    else if (gesture == "right")
        QTest::mouseClick(vp, Qt::RightButton, {}, at);
    else // through the window, so the double click arrives as the platform delivers it
        QTest::mouseDClick(w.window.windowHandle(),
                           gesture == "double" ? Qt::LeftButton : Qt::RightButton, {},
                           vp->mapTo(&w.window, at));

    QCOMPARE(seen, codes);
    for (int mark : marks) // the mark has moved before anyone hears of the click
        QCOMPARE(mark, markAfter);
    QCOMPARE(w.list->GetSelectionMark(), markAfter);
    QCOMPARE(int(w.owner.clicks.size()), cellClicks);
    if (cellClicks > 0) {
        QCOMPARE(w.owner.clicks.front().row, row);
        QCOMPARE(w.owner.clicks.front().column, 2);
        QVERIFY(!w.owner.clicks.front().onImage);
    }
    if (row >= 0)
        QCOMPARE(w.list->GetItemState(row, LVIS_SELECTED), LVIS_SELECTED);
}

void TestCellListCtrl::headerRightClick()
{
    ListWindow w;
    QVERIFY(w.Ready());
    QHeaderView *header = w.list->header();
    const QPoint onThird(header->sectionViewportPosition(2) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, onThird);
    const QPoint pastLast(header->sectionViewportPosition(4) + 220, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, pastLast);
    QCOMPARE(int(w.owner.headerClicks.size()), 2);
    QCOMPARE(w.owner.headerClicks[0].column, 2);
    const QPoint global = header->viewport()->mapToGlobal(onThird);
    QCOMPARE(QPoint(w.owner.headerClicks[0].x, w.owner.headerClicks[0].y), global);
    QCOMPARE(w.owner.headerClicks[1].column, -1);
}

void TestCellListCtrl::itemStates()
{
    ListWindow w(100);
    QVERIFY(w.Ready());
    const unsigned both = LVIS_SELECTED | LVIS_FOCUSED;
    QVERIFY(w.list->SetItemState(7, both, both));
    QCOMPARE(w.list->GetItemState(7, both), both);
    QVERIFY(w.list->SetItemState(9, LVIS_SELECTED, LVIS_SELECTED));
    QCOMPARE(w.list->GetItemState(7, LVIS_SELECTED), 0u); // single selection
    QVERIFY(!w.list->SetItemState(100, both, both));
    // Selecting a row while there is no mark sets it, as the list view does.
    QCOMPARE(w.list->SetSelectionMark(9), 7);
    QCOMPARE(w.list->GetSelectionMark(), 9);

    w.list->EnsureVisible(99);
    QVERIFY(w.list->GetTopIndex() > 50);
    QVERIFY(w.list->GetTopIndex() + w.list->GetCountPerPage() > 99);

    w.list->SetItemCount(20); // the selected row survives, the mark is left to the owner
    QCOMPARE(w.list->GetItemCount(), 20);
    QCOMPARE(w.list->GetItemState(9, LVIS_SELECTED), LVIS_SELECTED);
    QCOMPARE(w.list->GetTopIndex() + w.list->GetCountPerPage() >= 19, true);

    w.list->DeleteAllItems();
    QCOMPARE(w.list->GetItemCount(), 0);
    QCOMPARE(w.list->GetSelectionMark(), -1);
    QCOMPARE(w.list->GetTopIndex(), 0);
}

QTEST_MAIN(TestCellListCtrl)
#include "tst_celllistctrl.moc"
