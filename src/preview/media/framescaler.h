// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "videoframe.h"

#include <QSize>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFrame;
struct SwsContext;

// Turns decoded pictures into screen pictures: fit into a box keeping the display aspect ratio
// (sample aspect ratio honoured), colour-converted with the picture's own matrix and range, then
// turned by the clockwise rotation the file asks for.
class FrameScaler
{
public:
    FrameScaler(QSize box, int clockwiseDegrees);
    ~FrameScaler();
    FrameScaler(const FrameScaler &) = delete;
    FrameScaler &operator=(const FrameScaler &) = delete;

    // The frame's pts and duration are left for the caller.
    VideoFrame Convert(const AVFrame *frame, AVRational sampleAspect);

    // Size on screen (after rotation) of a width x height picture with that sample aspect.
    static QSize FitSize(QSize picture, AVRational sampleAspect, int clockwiseDegrees, QSize box);

private:
    void Rotate(const QByteArray &upright, int width, int height, VideoFrame &out) const;

    QSize box;
    int rotation;
    SwsContext *sws = nullptr;
};
