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

DecodeTally::DecodeTally(const AVStream *stream, bool meter)
    : stream(stream), decoder(OpenDecoder(stream->codecpar)), frame(av_frame_alloc()),
      metering(meter && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
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
        if (metering)
            Meter(frame.get());
        av_frame_unref(frame.get());
    }
}

void DecodeTally::Meter(const AVFrame *sound)
{
    const int channels = sound->ch_layout.nb_channels;
    if (!meter)
        meter.emplace(sound->sample_rate, channels);
    const AVSampleFormat format = AVSampleFormat(sound->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    const bool planar = av_sample_fmt_is_planar(format);
    // One meter for the whole sound: a change of rate or channels midway is not measured.
    if (sound->sample_rate != meter->SampleRate() || channels != meter->Channels() ||
        channels < 1 || !sound->extended_data) {
        metering = false;
        return;
    }
    samples.resize(size_t(sound->nb_samples) * size_t(channels));
    for (int c = 0; c < channels; ++c) {
        const uint8_t *data = sound->extended_data[planar ? c : 0];
        for (int i = 0; i < sound->nb_samples; ++i) {
            const int at = planar ? i : i * channels + c;
            float v = 0.0f;
            switch (packed) {
            case AV_SAMPLE_FMT_FLT:
                v = reinterpret_cast<const float *>(data)[at];
                break;
            case AV_SAMPLE_FMT_DBL:
                v = float(reinterpret_cast<const double *>(data)[at]);
                break;
            case AV_SAMPLE_FMT_S16:
                v = reinterpret_cast<const int16_t *>(data)[at] / 32768.0f;
                break;
            case AV_SAMPLE_FMT_S32:
                v = float(reinterpret_cast<const int32_t *>(data)[at] / 2147483648.0);
                break;
            case AV_SAMPLE_FMT_U8:
                v = (data[at] - 128) / 128.0f;
                break;
            default:
                metering = false;
                return;
            }
            samples[size_t(i) * size_t(channels) + size_t(c)] = v;
        }
    }
    meter->Add(samples.data(), sound->nb_samples);
}

SoundLevels DecodeTally::Levels() const
{
    return metering && meter ? meter->Reading() : SoundLevels();
}
