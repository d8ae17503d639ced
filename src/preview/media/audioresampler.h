// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audioformatspec.h"

#include <QByteArray>

struct AVFrame;
struct SwrContext;

// Converts decoded sound of any layout, rate and sample format into one output format
// (5.1 is mixed down, rates converted). Re-initialises itself when the input format changes.
class AudioResampler
{
public:
    explicit AudioResampler(const AudioFormatSpec &spec);
    ~AudioResampler();
    AudioResampler(const AudioResampler &) = delete;
    AudioResampler &operator=(const AudioResampler &) = delete;

    // Interleaved output samples for this frame; empty when it cannot be converted.
    QByteArray Convert(const AVFrame *frame);
    void Reset();

private:
    bool Configure(const AVFrame *frame);

    AudioFormatSpec spec;
    SwrContext *swr = nullptr;
    int inRate = 0;
    int inFormat = -1;
    int inChannels = 0;
};
