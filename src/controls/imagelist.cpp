// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagelist.h"

#include "syscolors.h"

#include <QGuiApplication>
#include <QPainter>

CImageList::CImageList(int width, int height) : size(qMax(0, width), qMax(0, height)) {}

int CImageList::Add(const QPixmap &image)
{
    if (image.isNull() || size.isEmpty())
        return -1;
    QPixmap scaled = image.deviceIndependentSize().toSize() == size
                         ? image
                         : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    images.append(scaled);
    return int(images.size()) - 1;
}

bool CImageList::GetImageInfo(int index, QSize *imageSize) const
{
    if (index < 0 || index >= images.size())
        return false;
    if (imageSize)
        *imageSize = size;
    return true;
}

COLORREF CImageList::SetBkColor(COLORREF color)
{
    const COLORREF old = bkColor;
    bkColor = color;
    return old;
}

void CImageList::Draw(QPainter &painter, int index, const QRect &dest, int style,
                      COLORREF foreground) const
{
    if (index < 0 || index >= images.size() || dest.isEmpty())
        return;
    if (bkColor != CLR_NONE && bkColor != CLR_DEFAULT)
        painter.fillRect(dest, ColorFromRef(bkColor));
    const QPixmap &image = images.at(index);
    const qreal dpr = image.devicePixelRatio();
    const QRectF source(0, 0, dest.width() * dpr, dest.height() * dpr);
    const qreal blend = (style & ILD_BLEND_HALF) ? 0.5 : (style & ILD_BLEND_QUARTER) ? 0.25 : 0.0;
    if (blend == 0.0) {
        painter.drawPixmap(QRectF(dest), image, source);
        return;
    }
    // Tint only the image's own pixels: blend on a copy, then draw the copy.
    QPixmap tinted = image.copy(source.toRect());
    {
        QPainter tint(&tinted);
        tint.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        tint.setOpacity(blend);
        const QColor fg = foreground == CLR_DEFAULT
                              ? GetSysColor(QGuiApplication::palette(), COLOR_HIGHLIGHT)
                              : ColorFromRef(foreground);
        tint.fillRect(tinted.rect(), fg);
    }
    painter.drawPixmap(QRectF(dest), tinted, QRectF(tinted.rect()));
}
