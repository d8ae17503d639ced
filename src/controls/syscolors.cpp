// SPDX-License-Identifier: GPL-3.0-or-later
#include "syscolors.h"

#include <QPainter>
#include <QRect>

QColor GetSysColor(const QPalette &palette, SysColor index)
{
    static constexpr QPalette::ColorRole roles[] = {
        QPalette::Base,   QPalette::Text,       QPalette::Highlight, QPalette::HighlightedText,
        QPalette::Button, QPalette::ButtonText, QPalette::Dark,      QPalette::Light,
        QPalette::Shadow, QPalette::Midlight,   QPalette::Link,
    };
    return palette.color(QPalette::Active, roles[index]);
}

QColor ColorFromRef(COLORREF ref)
{
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

COLORREF RefFromColor(const QColor &color)
{
    const QRgb rgb = color.rgb();
    return COLORREF(qRed(rgb)) | (COLORREF(qGreen(rgb)) << 8) | (COLORREF(qBlue(rgb)) << 16);
}

void Draw3dRect(QPainter &painter, const QRect &rect, const QColor &topLeft,
                const QColor &bottomRight)
{
    const int x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    if (w <= 0 || h <= 0)
        return;
    painter.fillRect(x, y, w - 1, 1, topLeft);
    painter.fillRect(x, y, 1, h - 1, topLeft);
    painter.fillRect(x + w - 1, y, 1, h, bottomRight);
    painter.fillRect(x, y + h - 1, w, 1, bottomRight);
}

void DrawEdge(QPainter &painter, const QRect &rect, int edge, const QPalette &palette)
{
    const auto sys = [&](SysColor c) { return GetSysColor(palette, c); };
    QRect r = rect;
    if (edge & BDR_RAISEDOUTER)
        Draw3dRect(painter, r, sys(COLOR_3DLIGHT), sys(COLOR_3DDKSHADOW));
    else if (edge & BDR_SUNKENOUTER)
        Draw3dRect(painter, r, sys(COLOR_BTNSHADOW), sys(COLOR_BTNHIGHLIGHT));
    r.adjust(1, 1, -1, -1);
    if (edge & BDR_RAISEDINNER)
        Draw3dRect(painter, r, sys(COLOR_BTNHIGHLIGHT), sys(COLOR_BTNSHADOW));
    else if (edge & BDR_SUNKENINNER)
        Draw3dRect(painter, r, sys(COLOR_3DDKSHADOW), sys(COLOR_3DLIGHT));
}
