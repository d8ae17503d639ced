// SPDX-License-Identifier: GPL-3.0-or-later
#include "framescaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

FrameScaler::FrameScaler(QSize box, int clockwiseDegrees) : box(box), rotation(clockwiseDegrees) {}

FrameScaler::~FrameScaler()
{
    sws_freeContext(sws);
}

QSize FrameScaler::FitSize(QSize picture, AVRational sampleAspect, int clockwiseDegrees, QSize box)
{
    const double sar = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
    double w = picture.width() * sar;
    double h = picture.height();
    if (clockwiseDegrees == 90 || clockwiseDegrees == 270)
        std::swap(w, h);
    if (w <= 0.0 || h <= 0.0)
        return {};
    const double scale = std::min(box.width() / w, box.height() / h);
    const int outW = std::clamp(int(std::lround(w * scale)), 1, box.width());
    const int outH = std::clamp(int(std::lround(h * scale)), 1, box.height());
    return {outW, outH};
}

VideoFrame FrameScaler::Convert(const AVFrame *frame, AVRational sampleAspect)
{
    VideoFrame out;
    const QSize shown = FitSize({frame->width, frame->height}, sampleAspect, rotation, box);
    if (shown.isEmpty())
        return out;
    const bool sideways = rotation == 90 || rotation == 270;
    const int w = sideways ? shown.height() : shown.width();
    const int h = sideways ? shown.width() : shown.height();
    sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), w, h,
                               AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws)
        return out;
    // Pictures tagged BT.709 (HD) must be converted with that matrix or colours shift; untagged
    // ones get the BT.601 default. Full-range sources (JPEG) keep their range.
    const int srcRange = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(sws, sws_getCoefficients(frame->colorspace), srcRange,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QByteArray upright(qsizetype(w) * h * 4, Qt::Uninitialized);
    uint8_t *dst[4] = {reinterpret_cast<uint8_t *>(upright.data()), nullptr, nullptr, nullptr};
    int dstStride[4] = {w * 4, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    Rotate(upright, w, h, out);
    return out;
}

void FrameScaler::Rotate(const QByteArray &upright, int w, int h, VideoFrame &out) const
{
    if (rotation != 90 && rotation != 180 && rotation != 270) {
        out.pixels = upright;
        out.width = w;
        out.height = h;
        return;
    }
    const bool sideways = rotation != 180;
    out.width = sideways ? h : w;
    out.height = sideways ? w : h;
    out.pixels = QByteArray(upright.size(), Qt::Uninitialized);
    const auto *src = reinterpret_cast<const uint32_t *>(upright.constData());
    auto *dst = reinterpret_cast<uint32_t *>(out.pixels.data());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int dx = w - 1 - x, dy = h - 1 - y; // 180 degrees
            if (rotation == 90) {
                dx = h - 1 - y;
                dy = x;
            } else if (rotation == 270) {
                dx = y;
                dy = w - 1 - x;
            }
            dst[qsizetype(dy) * out.width + dx] = src[qsizetype(y) * w + x];
        }
    }
}
