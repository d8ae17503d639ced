// SPDX-License-Identifier: GPL-3.0-or-later
// How the list paints its rows: each cell's background, image, progress bar and text, in the
// colours its owner asks for or the system's.
#include "celllistctrl.h"

#include "cellinfoowner.h"
#include "celllistmodel.h"
#include "imagelist.h"
#include "syscolors.h"

#include <QPaintEvent>
#include <QPainter>

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
