// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "amrnbencoder.h"

#include <functional>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

// Decodes one audio stream of any format, turns it into 8 kHz mono and encodes AMR-NB
// packets, one 20 ms frame each, timed in 1/8000 s from the stream's first sample.
class AudioToAmr
{
public:
    using PacketSink = std::function<void(AVPacket *)>;

    AudioToAmr(const AVStream *source, int mode); // throws ToolError
    ~AudioToAmr();
    AudioToAmr(const AudioToAmr &) = delete;
    AudioToAmr &operator=(const AudioToAmr &) = delete;

    // Feeds one packet of the source stream; every finished AMR packet goes to sink.
    void Feed(const AVPacket *packet, const PacketSink &sink);
    // Ends the stream: the last part frame is padded with silence.
    void Finish(const PacketSink &sink);

private:
    void ReceiveFrames(const PacketSink &sink);
    void Resample(const AVFrame *frame);
    void EncodePending(bool flush, const PacketSink &sink);

    AVRational sourceTimeBase;
    AVCodecContext *decoder = nullptr;
    SwrContext *resampler = nullptr;
    AVFrame *frame = nullptr;
    AmrNbEncoder encoder;
    std::vector<int16_t> pending; // resampled samples not yet encoded
    int64_t nextPts = AV_NOPTS_VALUE;
};
