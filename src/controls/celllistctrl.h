// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

#include <QRegion>
#include <QTreeView>

#include <memory>
#include <optional>

class CCellListModel;
class CImageList;
class ICellInfoOwner;

// Click notifications of the list, with the list view's codes.
constexpr int NM_CLICK = -2;
constexpr int NM_DBLCLK = -3;
constexpr int NM_RCLICK = -5;
constexpr int NM_RDBLCLK = -6;

// Item state bits for SetItemState / GetItemState.
constexpr unsigned LVIS_FOCUSED = 0x1;
constexpr unsigned LVIS_SELECTED = 0x2;

// Extended styles; only full-row select changes what the list draws.
constexpr unsigned LVS_EX_GRIDLINES = 0x1;
constexpr unsigned LVS_EX_CHECKBOXES = 0x4;
constexpr unsigned LVS_EX_FULLROWSELECT = 0x20;

// A report-style virtual list: it stores only the item count. Every cell it paints, and every
// text it needs, comes from its owner through one shared CellInfo record; the owner repaints
// stale cells with InvalidateCells. Selection follows the list view's rules: single selection,
// a selection mark apart from the focused row, a click selects the row under it.
class CCellListCtrl : public QTreeView
{
    Q_OBJECT
public:
    explicit CCellListCtrl(QWidget *parent = nullptr);
    ~CCellListCtrl() override;

    // No owner: every cell keeps the record's defaults.
    void SetOwner(ICellInfoOwner *owner) { cellOwner = owner; }
    ICellInfoOwner *GetOwner() const { return cellOwner; }

    int InsertColumn(int index, const QString &header, int width,
                     Qt::Alignment alignment = Qt::AlignLeft);
    int GetColumnCount() const;

    void SetItemCount(int count);
    int GetItemCount() const;
    // Removes every row; the selection mark and the focused row are reset to -1.
    void DeleteAllItems();

    int GetSelectionMark() const { return selectionMark; }
    // Returns the previous mark.
    int SetSelectionMark(int row);
    // row -1 applies to every row. Selecting a row deselects the others (single selection).
    bool SetItemState(int row, unsigned state, unsigned mask);
    unsigned GetItemState(int row, unsigned mask) const;
    void EnsureVisible(int row);
    void RedrawItems(int first, int last);

    void SetExtendedStyle(unsigned mask, unsigned style);
    unsigned GetExtendedStyle() const { return extendedStyle; }
    void SetShowSelectionAlways(bool on);
    bool GetShowSelectionAlways() const { return showSelectionAlways; }
    void SetImageList(CImageList *images) { imageList = images; }
    CImageList *GetImageList() const { return imageList; }
    void SetRowHeight(int height);
    int GetRowHeight() const;
    // The hot row takes the hot text colour; -1 (the default) for none. Mouse movement never
    // changes it.
    void SetHotItem(int row);
    int GetHotItem() const { return hotItem; }

    int GetTopIndex() const;
    // Rows that fit wholly in the visible area.
    int GetCountPerPage() const;

    // Resets the shared record, fills in what the list knows, asks the owner and returns it.
    // The record is overwritten by the next request.
    virtual CellInfo *GetCellInfo(int row, int column);
    // Repaints column's cells from firstRow to lastRow, skipping rows out of view. Never asks
    // the owner. erase is accepted for the callers' sake; a repaint always redraws fully.
    void InvalidateCells(int firstRow, int lastRow, int column, bool erase);
    bool IsCellSelected(int row, int column) const;
    // point in viewport coordinates; asks the owner for the hit cell to place its image.
    bool HitTestCell(const QPoint &point, int *row, int *column, bool *onImage);
    // In viewport coordinates; column 0 ends where column 1 begins.
    bool GetCellRect(int row, int column, QRect *rect) const;

signals:
    // After the click has moved the selection; a direct signal with the list view's code.
    void listClicked(int code);

protected:
    void paintEvent(QPaintEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                 const QModelIndex &index) const override;
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public:
    void keyboardSearch(const QString &) override {}

private:
    // A resolved colour, or none for "do not paint".
    using OptColor = std::optional<QColor>;

    void DrawCell(QPainter &painter, int row, int column);
    void DrawImage(QPainter &painter, const CellInfo &cell) const;
    void DrawBar(QPainter &painter, const CellInfo &cell) const;
    void DrawText(QPainter &painter, const CellInfo &cell) const;
    bool GetImageRect(const CellInfo &cell, bool exact, QRect *rect) const;
    QRect GetLabelRect(const CellInfo &cell) const;
    bool GetProgressRect(const CellInfo &cell, bool inner, QRect *rect) const;
    OptColor GetCellBkColor(const CellInfo &cell, bool ignoreSel) const;
    OptColor GetCellTextColor(const CellInfo &cell, bool ignoreSel, bool forceSel) const;
    OptColor GetCellFill(const CellInfo &cell) const;
    OptColor Resolve(COLORREF ref, int sysColor) const;
    bool HasListFocus() const;
    void SelectOnly(int row);
    void HeaderRightClicked(const QPoint &headerPos);

    CCellListModel *model;
    std::unique_ptr<CellInfo> cellInfo;
    ICellInfoOwner *cellOwner = nullptr;
    CImageList *imageList = nullptr;
    int selectionMark = -1;
    int hotItem = -1;
    unsigned extendedStyle = 0;
    bool showSelectionAlways = false;
    Qt::MouseButton pressedButton = Qt::NoButton;
    QPoint pressPoint;
    QRegion paintRegion;
    bool rowHeightSet = false;
};
