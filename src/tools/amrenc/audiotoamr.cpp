// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiotoamr.h"

#include "avtext.h"
#include "toolerror.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

constexpr AVRational amrTimeBase = {1, AmrNbEncoder::sampleRate};

} // namespace

AudioToAmr::AudioToAmr(const AVStream *source, int mode)
    : sourceTimeBase(source->time_base), encoder(mode)
{
    const AVCodec *codec = avcodec_find_decoder(source->codecpar->codec_id);
    if (!codec)
        throw ToolError("no decoder for the audio format " +
                        std::string(avcodec_get_name(source->codecpar->codec_id)));
    decoder = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    if (!decoder || !frame)
        throw ToolError("out of memory");
    CheckAv(avcodec_parameters_to_context(decoder, source->codecpar), "cannot read the audio");
    decoder->pkt_timebase = source->time_base;
    CheckAv(avcodec_open2(decoder, codec, nullptr), "cannot decode the audio");
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);
}

AudioToAmr::~AudioToAmr()
{
    swr_free(&resampler);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
}

void AudioToAmr::Feed(const AVPacket *packet, const PacketSink &sink)
{
    // A damaged packet is skipped, as players do; only the decoder's end is an error.
    if (avcodec_send_packet(decoder, packet) < 0)
        return;
    ReceiveFrames(sink);
}

void AudioToAmr::Finish(const PacketSink &sink)
{
    avcodec_send_packet(decoder, nullptr);
    ReceiveFrames(sink);
    if (resampler)
        Resample(nullptr);
    EncodePending(true, sink);
}

void AudioToAmr::ReceiveFrames(const PacketSink &sink)
{
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        if (nextPts == AV_NOPTS_VALUE) {
            const int64_t start = frame->best_effort_timestamp;
            nextPts =
                start == AV_NOPTS_VALUE ? 0 : av_rescale_q(start, sourceTimeBase, amrTimeBase);
        }
        Resample(frame);
        av_frame_unref(frame);
        EncodePending(false, sink);
    }
}

// The resampler is made for the first frame's format, which the decoder knows only then.
void AudioToAmr::Resample(const AVFrame *input)
{
    if (!resampler) {
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        AVChannelLayout inputLayout = input->ch_layout;
        if (inputLayout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inputLayout, inputLayout.nb_channels);
        CheckAv(swr_alloc_set_opts2(&resampler, &mono, AV_SAMPLE_FMT_S16, AmrNbEncoder::sampleRate,
                                    &inputLayout, AVSampleFormat(input->format), input->sample_rate,
                                    0, nullptr),
                "cannot convert the audio");
        CheckAv(swr_init(resampler), "cannot convert the audio");
    }
    const int inputSamples = input ? input->nb_samples : 0;
    const int room = swr_get_out_samples(resampler, inputSamples);
    if (room <= 0)
        return;
    const size_t used = pending.size();
    pending.resize(used + size_t(room));
    uint8_t *out = reinterpret_cast<uint8_t *>(pending.data() + used);
    const int made = swr_convert(
        resampler, &out, room, input ? const_cast<const uint8_t **>(input->extended_data) : nullptr,
        inputSamples);
    pending.resize(used + size_t(made > 0 ? made : 0));
}

void AudioToAmr::EncodePending(bool flush, const PacketSink &sink)
{
    constexpr size_t frameSamples = AmrNbEncoder::frameSamples;
    if (flush && pending.size() % frameSamples != 0)
        pending.resize((pending.size() / frameSamples + 1) * frameSamples, 0);
    size_t done = 0;
    for (; pending.size() - done >= frameSamples; done += frameSamples) {
        const std::vector<uint8_t> bits = encoder.EncodeFrame(pending.data() + done);
        AVPacket *packet = av_packet_alloc();
        if (!packet || av_new_packet(packet, int(bits.size())) < 0)
            throw ToolError("out of memory");
        std::copy(bits.begin(), bits.end(), packet->data);
        packet->pts = packet->dts = nextPts;
        packet->duration = AmrNbEncoder::frameSamples;
        packet->time_base = amrTimeBase;
        nextPts += AmrNbEncoder::frameSamples;
        sink(packet);
        av_packet_free(&packet);
    }
    pending.erase(pending.begin(), pending.begin() + long(done));
}
