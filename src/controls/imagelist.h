// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QVector>

class QPainter;

// Draw styles understood by Draw: the blend bits mix the image with a foreground colour.
constexpr int ILD_BLEND_QUARTER = 0x2; // a quarter of the foreground colour
constexpr int ILD_BLEND_HALF = 0x4;    // half of the foreground colour

// A list of small images of one size, drawn by index. The task list's cells refer to their
// images through it.
class CImageList
{
public:
    CImageList(int width, int height);

    // Adds an image, scaled to the list's size; returns its index.
    int Add(const QPixmap &image);
    int GetImageCount() const { return int(images.size()); }
    QSize GetImageSize() const { return size; }
    // False when there is no image at index; otherwise the image's size.
    bool GetImageInfo(int index, QSize *imageSize) const;

    // Background painted under each image; CLR_NONE (the default) leaves it transparent.
    COLORREF SetBkColor(COLORREF color);
    COLORREF GetBkColor() const { return bkColor; }

    // Draws the top-left dest.size() part of image index at dest.topLeft(). A blend style
    // mixes the image's visible pixels with foreground (CLR_DEFAULT: the palette's highlight).
    void Draw(QPainter &painter, int index, const QRect &dest, int style,
              COLORREF foreground) const;

private:
    QSize size;
    QVector<QPixmap> images;
    COLORREF bkColor = CLR_NONE;
};
