// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// Colours are COLORREF values: 0x00BBGGRR.
using COLORREF = quint32;
constexpr COLORREF CLR_DEFAULT = 0xFF000000u; // use the system colour of the drawing rules
constexpr COLORREF CLR_NONE = 0xFFFFFFFFu;    // do not paint this area

constexpr int ILD_NORMAL = 0;
constexpr int ILD_BLEND25 = 4;
constexpr int EDGE_SUNKEN = 10;

class CImageList; // the list's small image list (a widget-side class)

// The description of one cell that the task list asks its owner for. One record serves every
// request; the list resets it to these defaults and fills row, column, selected, hot,
// imageList and imageBkUnselected before asking. An owner must not keep its address.
struct CellInfo {
    QString text;
    bool ignoreSelection = false;
    qint32 image = -1;
    const CImageList *imageList = nullptr;
    bool imageBkUnselected = true;
    bool centreImage = false;
    qint32 selectedImageStyle = ILD_BLEND25;
    qint32 progressRange = -1; // > 0: a bar with this maximum
    qint32 progressPos = 0;
    COLORREF barColor = CLR_DEFAULT;
    COLORREF barTextColor = CLR_DEFAULT;
    qint32 barEdge = EDGE_SUNKEN;
    COLORREF textColor = CLR_DEFAULT;
    COLORREF bkColor = CLR_DEFAULT;
    COLORREF hotTextColor = CLR_DEFAULT;
    COLORREF selTextColor = CLR_DEFAULT;
    COLORREF selBkColorFocused = CLR_DEFAULT;
    COLORREF selBkColorUnfocused = CLR_DEFAULT;
    qint32 row = 0;
    qint32 column = 0;
    bool selected = false;
    bool hot = false;

    void Reset() { *this = CellInfo(); }
};

// Sent with a left click that hits a cell.
struct CellHitInfo {
    qint32 row = -1;
    qint32 column = -1;
    bool onImage = false;
    quint8 reserved = 0;
};

// Sent with a right click on the column header; column is -1 over no header item.
struct HeaderClickInfo {
    qint32 column = -1;
    qint32 x = 0;
    qint32 y = 0;
};

// Message numbers kept for the record and for logs; delivery is a direct call.
constexpr int WM_GETCELLINFO = 0x0BBB;
constexpr int WM_CELLCLICKED = 0x0BBD;
constexpr int WM_HEADERRCLICKED = 0x0BBE;
