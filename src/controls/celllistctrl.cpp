// SPDX-License-Identifier: GPL-3.0-or-later
#include "celllistctrl.h"

#include "cellinfoowner.h"
#include "celllistmodel.h"
#include "imagelist.h"
#include "syscolors.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

// Rectangles below follow the list view's edge arithmetic: right and bottom are exclusive.
QRect FromEdges(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}
int RightOf(const QRect &r)
{
    return r.x() + r.width();
}
int BottomOf(const QRect &r)
{
    return r.y() + r.height();
}

// A position at or beyond the range fills the bar; 64-bit so large figures cannot overflow.
int FilledWidth(const QRect &bar, const CellInfo &cell)
{
    const qint64 w = bar.width();
    if (cell.progressPos >= cell.progressRange)
        return int(w);
    return int(w * cell.progressPos / cell.progressRange);
}

} // namespace

CCellListCtrl::CCellListCtrl(QWidget *parent)
    : QTreeView(parent), model(new CCellListModel(this)), cellInfo(std::make_unique<CellInfo>())
{
    model->SetTextSource([this](int row, int column) { return GetCellInfo(row, column)->text; });
    model->SetRowHeight(qMax(17, fontMetrics().height() + 3));
    setModel(model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setEditTriggers(NoEditTriggers);
    setVerticalScrollMode(ScrollPerItem);
    setWordWrap(false);
    // Hover and mouse tracking would repaint rows on every movement; the list tracks neither.
    setMouseTracking(false);
    viewport()->setMouseTracking(false);
    viewport()->setAttribute(Qt::WA_Hover, false);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
    header()->viewport()->installEventFilter(this);
}

CCellListCtrl::~CCellListCtrl() = default;

int CCellListCtrl::InsertColumn(int index, const QString &header, int width,
                                Qt::Alignment alignment)
{
    const int column = model->InsertColumn(index, header, alignment);
    setColumnWidth(column, width);
    return column;
}

int CCellListCtrl::GetColumnCount() const
{
    return model->columnCount();
}

void CCellListCtrl::SetItemCount(int count)
{
    // Drop the focused row first if it goes, so that the view does not move the focus (and
    // with it the selection) to a neighbour of its own accord.
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.row() >= count)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    model->SetItemCount(count);
    viewport()->update();
}

int CCellListCtrl::GetItemCount() const
{
    return model->GetItemCount();
}

void CCellListCtrl::DeleteAllItems()
{
    selectionModel()->clear();
    model->SetItemCount(0);
    selectionMark = -1;
    viewport()->update();
}

int CCellListCtrl::SetSelectionMark(int row)
{
    const int old = selectionMark;
    selectionMark = row;
    return old;
}

bool CCellListCtrl::SetItemState(int row, unsigned state, unsigned mask)
{
    if (row < -1 || row >= GetItemCount())
        return false;
    QItemSelectionModel *selection = selectionModel();
    if (row == -1) {
        if ((mask & LVIS_SELECTED) && !(state & LVIS_SELECTED))
            selection->clearSelection();
        if ((mask & LVIS_FOCUSED) && !(state & LVIS_FOCUSED))
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return true;
    }
    const QModelIndex index = model->index(row, 0);
    if (mask & LVIS_SELECTED) {
        if (state & LVIS_SELECTED) {
            SelectOnly(row);
            if (selectionMark == -1)
                selectionMark = row;
        } else {
            selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
    }
    if (mask & LVIS_FOCUSED) {
        if (state & LVIS_FOCUSED)
            selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        else if (currentIndex().row() == row)
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    return true;
}

unsigned CCellListCtrl::GetItemState(int row, unsigned mask) const
{
    if (row < 0 || row >= GetItemCount())
        return 0;
    unsigned state = 0;
    if (selectionModel()->isRowSelected(row, QModelIndex()))
        state |= LVIS_SELECTED;
    if (currentIndex().isValid() && currentIndex().row() == row)
        state |= LVIS_FOCUSED;
    return state & mask;
}

void CCellListCtrl::EnsureVisible(int row)
{
    if (row >= 0 && row < GetItemCount())
        scrollTo(model->index(row, 0), QAbstractItemView::EnsureVisible);
}

void CCellListCtrl::RedrawItems(int first, int last)
{
    const int columns = GetColumnCount();
    if (columns == 0 || GetItemCount() == 0)
        return;
    const int top = GetTopIndex();
    first = qMax(first, top);
    last = qMin(last, qMin(top + GetCountPerPage(), GetItemCount() - 1));
    QRect a, b;
    if (first > last || !GetCellRect(first, 0, &a) || !GetCellRect(last, columns - 1, &b))
        return;
    viewport()->update(a.united(b));
}

void CCellListCtrl::SetExtendedStyle(unsigned mask, unsigned style)
{
    extendedStyle = (extendedStyle & ~mask) | (style & mask);
    viewport()->update();
}

void CCellListCtrl::SetShowSelectionAlways(bool on)
{
    showSelectionAlways = on;
    viewport()->update();
}

void CCellListCtrl::SetRowHeight(int height)
{
    rowHeightSet = true;
    model->SetRowHeight(height);
}

int CCellListCtrl::GetRowHeight() const
{
    return model->GetRowHeight();
}

void CCellListCtrl::SetHotItem(int row)
{
    hotItem = row;
    viewport()->update();
}

int CCellListCtrl::GetTopIndex() const
{
    return GetItemCount() > 0 ? verticalScrollBar()->value() : 0;
}

int CCellListCtrl::GetCountPerPage() const
{
    return viewport()->height() / qMax(1, GetRowHeight());
}

CellInfo *CCellListCtrl::GetCellInfo(int row, int column)
{
    CellInfo &info = *cellInfo;
    info.Reset();
    info.row = row;
    info.column = column;
    info.selected = IsCellSelected(row, column);
    info.hot = hotItem == row;
    info.imageList = imageList;
    info.imageBkUnselected = true;
    if (cellOwner)
        cellOwner->OnGetCellInfo(info);
    return &info;
}

void CCellListCtrl::InvalidateCells(int firstRow, int lastRow, int column, bool)
{
    const int count = GetItemCount();
    if (count == 0)
        return;
    const int top = GetTopIndex();
    const int bottom = qMin(top + GetCountPerPage(), count - 1);
    if ((firstRow < top && lastRow < top) || (firstRow > bottom && lastRow > bottom))
        return;
    firstRow = qMax(firstRow, top);
    lastRow = qMin(lastRow, bottom);
    QRect first, last;
    if (!GetCellRect(firstRow, column, &first) || !GetCellRect(lastRow, column, &last))
        return;
    viewport()->update(first.united(last));
}

bool CCellListCtrl::IsCellSelected(int row, int column) const
{
    if (row < 0 || row >= GetItemCount() || !selectionModel()->isRowSelected(row, QModelIndex()))
        return false;
    if (column != 0 && !(extendedStyle & LVS_EX_FULLROWSELECT))
        return false;
    return HasListFocus() || showSelectionAlways;
}

bool CCellListCtrl::HitTestCell(const QPoint &point, int *row, int *column, bool *onImage)
{
    const QModelIndex index = indexAt(point);
    if (!index.isValid())
        return false;
    const CellInfo cell = *GetCellInfo(index.row(), index.column());
    QRect image;
    *row = index.row();
    *column = index.column();
    *onImage = GetImageRect(cell, true, &image) && image.contains(point);
    return true;
}

bool CCellListCtrl::GetCellRect(int row, int column, QRect *rect) const
{
    if (row < 0 || row >= GetItemCount() || column < 0 || column >= GetColumnCount())
        return false;
    *rect = visualRect(model->index(row, column));
    return true;
}

void CCellListCtrl::paintEvent(QPaintEvent *event)
{
    // Rows are drawn cell by cell; remembering the region lets cells outside it be skipped,
    // so an invalidated cell costs one owner request, not one per column.
    paintRegion = event->region();
    QTreeView::paintEvent(event);
    paintRegion = QRegion();
}

void CCellListCtrl::drawRow(QPainter *painter, const QStyleOptionViewItem &,
                            const QModelIndex &index) const
{
    // Painting asks the owner through the shared record, which is state of the list but not
    // of what it shows; the base class only offers a const hook.
    auto *self = const_cast<CCellListCtrl *>(this);
    const int columns = GetColumnCount();
    for (int column = 0; column < columns; ++column) {
        QRect cell;
        if (!GetCellRect(index.row(), column, &cell) || cell.isEmpty())
            continue;
        if (!paintRegion.isEmpty() && !paintRegion.intersects(cell))
            continue;
        self->DrawCell(*painter, index.row(), column);
    }
}

void CCellListCtrl::DrawCell(QPainter &painter, int row, int column)
{
    // Work on a copy: the owner's answer may ask the list for other cells meanwhile.
    CellInfo cell = *GetCellInfo(row, column);
    cell.row = row;
    cell.column = column;
    QRect box;
    if (!GetCellRect(row, column, &box))
        return;
    painter.save();
    painter.setClipRect(box);
    if (cell.image != -1)
        DrawImage(painter, cell);
    if (cell.progressRange > 0)
        DrawBar(painter, cell);
    DrawText(painter, cell);
    painter.restore();
}

void CCellListCtrl::DrawImage(QPainter &painter, const CellInfo &cell) const
{
    QRect outer, exact;
    if (!GetImageRect(cell, false, &outer) || !GetImageRect(cell, true, &exact))
        return;
    const OptColor selBk = GetCellBkColor(cell, false);
    const OptColor imageBk = GetCellBkColor(cell, cell.imageBkUnselected || cell.ignoreSelection);
    if (imageBk)
        painter.fillRect(outer, *imageBk);
    if (!cell.ignoreSelection && cell.selected && cell.selectedImageStyle != 0 && selBk)
        cell.imageList->Draw(painter, cell.image, exact, cell.selectedImageStyle,
                             RefFromColor(*selBk));
    else
        cell.imageList->Draw(painter, cell.image, exact, ILD_NORMAL, CLR_DEFAULT);
}

void CCellListCtrl::DrawBar(QPainter &painter, const CellInfo &cell) const
{
    QRect frame, inner;
    if (!GetProgressRect(cell, false, &frame) || !GetProgressRect(cell, true, &inner))
        return;
    const QRect label = GetLabelRect(cell);
    if (const OptColor fill = GetCellFill(cell)) {
        painter.save();
        painter.setClipRegion(QRegion(label).subtracted(QRegion(frame)), Qt::IntersectClip);
        painter.fillRect(label, *fill);
        painter.restore();
    }
    if (cell.barEdge != 0)
        DrawEdge(painter, frame, cell.barEdge, palette());
    // The interior keeps the unselected background even on a selected row.
    if (const OptColor back = GetCellBkColor(cell, true))
        painter.fillRect(inner, *back);
    if (cell.progressPos > 0) {
        const QRect filled =
            FromEdges(inner.x(), inner.y(), inner.x() + FilledWidth(inner, cell), BottomOf(inner));
        if (const OptColor bar = Resolve(cell.barColor, COLOR_HIGHLIGHT))
            painter.fillRect(filled, *bar);
    }
}

void CCellListCtrl::DrawText(QPainter &painter, const CellInfo &cell) const
{
    QRect t;
    const bool hasBar = cell.progressRange > 0 && GetProgressRect(cell, true, &t);
    if (!hasBar)
        t = GetLabelRect(cell);
    const QRect unshifted = t;
    const OptColor fill = GetCellFill(cell);
    if (cell.text.isEmpty()) {
        if (!hasBar && fill)
            painter.fillRect(unshifted, *fill);
        return;
    }
    const int align =
        int(model->GetColumnAlignment(cell.column) | Qt::AlignVCenter) | Qt::TextSingleLine;
    if (!hasBar) {
        t.setLeft(t.left() + 2);
        const QString text =
            painter.fontMetrics().elidedText(cell.text, Qt::ElideRight, qMax(0, t.width()));
        if (fill)
            painter.fillRect(unshifted, *fill);
        if (const OptColor back = GetCellBkColor(cell, cell.ignoreSelection))
            painter.fillRect(painter.fontMetrics().boundingRect(t, align, text) & t, *back);
        if (const OptColor fore = GetCellTextColor(cell, cell.ignoreSelection, false)) {
            painter.setPen(*fore);
            painter.drawText(t, align, text);
        }
        return;
    }
    // Two tones: the part of the text over the filled bar in the bar's text colour, the rest
    // in the normal colour, so the colour changes exactly at the fill edge.
    const QString text =
        painter.fontMetrics().elidedText(cell.text, Qt::ElideRight, qMax(0, t.width()));
    const QRect filled =
        FromEdges(t.x(), t.y(), t.x() + qMax(0, FilledWidth(t, cell)), BottomOf(t));
    if (const OptColor over = Resolve(cell.barTextColor, COLOR_HIGHLIGHTTEXT)) {
        painter.save();
        painter.setClipRect(filled, Qt::IntersectClip);
        painter.setPen(*over);
        painter.drawText(t, align, text);
        painter.restore();
    }
    if (const OptColor rest = GetCellTextColor(cell, true, false)) {
        painter.save();
        painter.setClipRegion(QRegion(t).subtracted(QRegion(filled)), Qt::IntersectClip);
        painter.setPen(*rest);
        painter.drawText(t, align, text);
        painter.restore();
    }
}

bool CCellListCtrl::GetImageRect(const CellInfo &cell, bool exact, QRect *rect) const
{
    QRect box;
    QSize image;
    if (cell.image < 0 || !cell.imageList || !GetCellRect(cell.row, cell.column, &box) ||
        box.width() <= 0 || !cell.imageList->GetImageInfo(cell.image, &image))
        return false;
    const int left = box.x(), right = RightOf(box), top = box.y(), bottom = BottomOf(box);
    const int x = cell.centreImage ? (left + right) / 2 - image.width() / 2 + 1 : left + 1;
    const int y = qMax(top, (top + bottom) / 2 - image.height() / 2);
    const int w = qMin(box.width(), image.width());
    const int h = box.height() + 1 >= image.height() ? image.height() : box.height();
    *rect = exact ? FromEdges(x, y, x + w, y + h) : FromEdges(left, top, x + image.width(), bottom);
    return true;
}

QRect CCellListCtrl::GetLabelRect(const CellInfo &cell) const
{
    QRect label, image;
    if (!GetCellRect(cell.row, cell.column, &label))
        return {};
    if (GetImageRect(cell, false, &image))
        label = FromEdges(RightOf(image), label.y(), RightOf(label), BottomOf(label));
    return label;
}

bool CCellListCtrl::GetProgressRect(const CellInfo &cell, bool inner, QRect *rect) const
{
    if (cell.progressRange <= 0)
        return false;
    const QRect l = GetLabelRect(cell);
    QRect r = FromEdges(l.x() + 1, l.y() + 1, RightOf(l) - 2, BottomOf(l) - 1);
    if (inner && cell.barEdge != 0)
        r.adjust(2, 2, -2, -2);
    *rect = r;
    return true;
}

CCellListCtrl::OptColor CCellListCtrl::GetCellBkColor(const CellInfo &cell, bool ignoreSel) const
{
    if (ignoreSel || !cell.selected)
        return Resolve(cell.bkColor, COLOR_WINDOW);
    const bool focus = HasListFocus();
    const COLORREF chosen = focus ? cell.selBkColorFocused : cell.selBkColorUnfocused;
    if (chosen != CLR_DEFAULT)
        return Resolve(chosen, COLOR_WINDOW);
    if (cell.row == hotItem)
        return GetSysColor(palette(), COLOR_HOTLIGHT);
    return GetSysColor(palette(), focus ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
}

CCellListCtrl::OptColor CCellListCtrl::GetCellTextColor(const CellInfo &cell, bool ignoreSel,
                                                        bool forceSel) const
{
    if ((!ignoreSel && cell.selected) || forceSel)
        return Resolve(cell.selTextColor, HasListFocus() ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
    if (cell.row == hotItem)
        return Resolve(cell.hotTextColor, COLOR_HOTLIGHT);
    return Resolve(cell.textColor, COLOR_WINDOWTEXT);
}

// Without full-row select only the text itself takes the selection background.
CCellListCtrl::OptColor CCellListCtrl::GetCellFill(const CellInfo &cell) const
{
    return GetCellBkColor(cell, !(extendedStyle & LVS_EX_FULLROWSELECT) || cell.ignoreSelection);
}

CCellListCtrl::OptColor CCellListCtrl::Resolve(COLORREF ref, int sysColor) const
{
    if (ref == CLR_NONE)
        return std::nullopt;
    if (ref == CLR_DEFAULT)
        return GetSysColor(palette(), SysColor(sysColor));
    return ColorFromRef(ref);
}

bool CCellListCtrl::HasListFocus() const
{
    return hasFocus();
}

void CCellListCtrl::SelectOnly(int row)
{
    selectionModel()->select(model->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CCellListCtrl::mousePressEvent(QMouseEvent *event)
{
    pressedButton = Qt::NoButton;
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return;
    pressedButton = event->button();
    pressPoint = event->position().toPoint();
    setFocus(Qt::MouseFocusReason);
    const QModelIndex index = indexAt(pressPoint);
    if (!index.isValid()) {
        // Empty space deselects, as in a list view; the mark stays where it was.
        selectionModel()->clearSelection();
        return;
    }
    SelectOnly(index.row());
    selectionModel()->setCurrentIndex(model->index(index.row(), 0), QItemSelectionModel::NoUpdate);
    selectionMark = index.row();
}

void CCellListCtrl::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != pressedButton || pressedButton == Qt::NoButton)
        return;
    pressedButton = Qt::NoButton;
    if (event->button() == Qt::RightButton) {
        emit listClicked(NM_RCLICK);
        return;
    }
    int row = -1, column = -1;
    bool onImage = false;
    if (HitTestCell(pressPoint, &row, &column, &onImage) && cellOwner)
        cellOwner->OnCellClicked(CellHitInfo{row, column, onImage, 0});
    emit listClicked(NM_CLICK);
}

void CCellListCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click neither selects nor ends in a click.
    pressedButton = Qt::NoButton;
    if (event->button() == Qt::LeftButton)
        emit listClicked(NM_DBLCLK);
    else if (event->button() == Qt::RightButton)
        emit listClicked(NM_RDBLCLK);
}

void CCellListCtrl::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void CCellListCtrl::keyPressEvent(QKeyEvent *event)
{
    QTreeView::keyPressEvent(event);
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex()))
        selectionMark = current.row();
}

void CCellListCtrl::focusInEvent(QFocusEvent *event)
{
    // Skip the view's own focus handling: it would make the first row current by itself.
    QWidget::focusInEvent(event);
    viewport()->update();
}

void CCellListCtrl::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    viewport()->update();
}

void CCellListCtrl::changeEvent(QEvent *event)
{
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::FontChange && !rowHeightSet)
        model->SetRowHeight(qMax(17, fontMetrics().height() + 3));
}

bool CCellListCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == header()->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton)
            HeaderRightClicked(mouse->position().toPoint());
    }
    return QTreeView::eventFilter(watched, event);
}

void CCellListCtrl::HeaderRightClicked(const QPoint &headerPos)
{
    HeaderClickInfo info;
    info.column = header()->logicalIndexAt(headerPos);
    const QPoint global = header()->viewport()->mapToGlobal(headerPos);
    info.x = global.x();
    info.y = global.y();
    if (cellOwner)
        cellOwner->OnHeaderRClicked(info);
}
