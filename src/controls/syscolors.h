// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

#include <QColor>
#include <QPalette>

// System colour indices as the drawing rules name them. Each maps to a palette role, so a
// style sheet or a desktop theme recolours the controls the way a system colour change would.
enum SysColor {
    COLOR_WINDOW,
    COLOR_WINDOWTEXT,
    COLOR_HIGHLIGHT,
    COLOR_HIGHLIGHTTEXT,
    COLOR_BTNFACE,
    COLOR_BTNTEXT,
    COLOR_BTNSHADOW,
    COLOR_BTNHIGHLIGHT,
    COLOR_3DDKSHADOW,
    COLOR_3DLIGHT,
    COLOR_HOTLIGHT,
};

// The colour of a system colour index in the given palette (active group: system colours do
// not depend on which window has the focus).
QColor GetSysColor(const QPalette &palette, SysColor index);

// COLORREF is 0x00BBGGRR: red in the lowest byte.
QColor ColorFromRef(COLORREF ref);
COLORREF RefFromColor(const QColor &color);

class QPainter;
class QRect;

// Edge bits of a frame drawn by DrawEdge.
constexpr int BDR_RAISEDOUTER = 0x1;
constexpr int BDR_SUNKENOUTER = 0x2;
constexpr int BDR_RAISEDINNER = 0x4;
constexpr int BDR_SUNKENINNER = 0x8;

// A one-pixel frame: top and left lines in topLeft, bottom and right lines in bottomRight.
void Draw3dRect(QPainter &painter, const QRect &rect, const QColor &topLeft,
                const QColor &bottomRight);
// A frame of up to two pixels in the classic 3-D look (EDGE_SUNKEN: sunken outer and inner).
void DrawEdge(QPainter &painter, const QRect &rect, int edge, const QPalette &palette);
