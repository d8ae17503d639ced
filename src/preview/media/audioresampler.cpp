// SPDX-License-Identifier: GPL-3.0-or-later
#include "audioresampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

AudioResampler::AudioResampler(const AudioFormatSpec &spec) : spec(spec) {}

AudioResampler::~AudioResampler()
{
    swr_free(&swr);
}

void AudioResampler::Reset()
{
    swr_free(&swr);
    inRate = 0;
    inFormat = -1;
    inChannels = 0;
}

bool AudioResampler::Configure(const AVFrame *frame)
{
    if (swr && frame->sample_rate == inRate && frame->format == inFormat &&
        frame->ch_layout.nb_channels == inChannels)
        return true;
    Reset();
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, spec.channels);
    // Zeroed: a copy into a layout first frees what the layout held.
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
    const AVSampleFormat outFormat = spec.floatSamples ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
    int rc = swr_alloc_set_opts2(&swr, &outLayout, outFormat, spec.sampleRate, &inLayout,
                                 AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (rc < 0 || swr_init(swr) < 0) {
        swr_free(&swr);
        return false;
    }
    inRate = frame->sample_rate;
    inFormat = frame->format;
    inChannels = frame->ch_layout.nb_channels;
    return true;
}

QByteArray AudioResampler::Convert(const AVFrame *frame)
{
    if (!spec.IsValid() || frame->sample_rate <= 0 || frame->nb_samples <= 0 || !Configure(frame))
        return {};
    const int capacity = swr_get_out_samples(swr, frame->nb_samples);
    if (capacity <= 0)
        return {};
    QByteArray out(qsizetype(capacity) * spec.BytesPerFrame(), Qt::Uninitialized);
    uint8_t *dst = reinterpret_cast<uint8_t *>(out.data());
    const int got = swr_convert(
        swr, &dst, capacity, const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (got <= 0)
        return {};
    out.truncate(qsizetype(got) * spec.BytesPerFrame());
    return out;
}
