// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// One picture ready for the screen: scaled to fit its box with the display aspect ratio kept and
// the rotation of the file applied. Pixels are 32-bit words 0xffRRGGBB in native byte order,
// rows packed (bytes per line = 4 * width), the layout of QImage::Format_RGB32.
struct VideoFrame {
    QByteArray pixels;
    int width = 0;
    int height = 0;
    double pts = 0.0;      // seconds from the start of the clip
    double duration = 0.0; // seconds this picture stays on screen (an estimate for the last one)

    bool IsNull() const { return width <= 0 || height <= 0; }
};
