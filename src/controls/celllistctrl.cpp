// SPDX-License-Identifier: GPL-3.0-or-later
#include "celllistctrl.h"

#include "cellinfoowner.h"
#include "celllistmodel.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

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
