// SPDX-License-Identifier: GPL-3.0-or-later
#include "decodetally.h"

#include <algorithm>

namespace {

// A sample of AMR-NB in storage format is whole frames, each a header byte (padding bits 0,
// the quality bit 1 for a good frame) and the bytes its mode gives.
bool AmrFramesSound(const AVPacket *packet)
{
    static constexpr int bytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
    int at = 0;
    while (at < packet->size) {
        const uint8_t header = packet->data[at];
        const int type = (header >> 3) & 0x0F;
        const bool good = (header & 0x83) == 0 && (type == 15 || (header & 0x04));
        if (!good || bytes[type] == 0)
            return false;
        at += bytes[type];
    }
    return packet->size > 0 && at == packet->size;
}

} // namespace

DecodeTally::DecodeTally(const AVStream *stream)
    : stream(stream), decoder(OpenDecoder(stream->codecpar)), frame(av_frame_alloc())
{
    if (decoder)
        decoder->pkt_timebase = stream->time_base;
}

void DecodeTally::Take(const AVPacket *packet)
{
    ++packets;
    if (stream->codecpar->codec_id == AV_CODEC_ID_AMR_NB && !AmrFramesSound(packet))
        ++damaged;
    if (!decoder || !frame)
        return;
    const int sent = avcodec_send_packet(decoder.get(), packet);
    if (sent < 0 && sent != AVERROR(EAGAIN))
        ++damaged;
    Receive();
}

void DecodeTally::Finish()
{
    if (!decoder || !frame)
        return;
    avcodec_send_packet(decoder.get(), nullptr);
    Receive();
    // Every picture packet of a phone's file is one picture: one that never came was lost.
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && frames < packets)
        damaged += packets - frames;
    damaged = std::min(damaged, packets);
}

void DecodeTally::Receive()
{
    for (;;) {
        const int got = avcodec_receive_frame(decoder.get(), frame.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        if (got < 0) {
            ++damaged;
            return;
        }
        ++frames;
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            ++damaged;
        av_frame_unref(frame.get());
    }
}
