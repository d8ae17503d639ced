// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediacheck/sourceprobe.h"

#include "mediaerror.h"
#include "mediainput.h"

#include <QFileInfo>
#include <QList>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// How far into a transport stream a sound stream must have produced samples: broadcast
// recordings list audio PIDs that never carry a packet, and their parameters stay unknown.
constexpr double soundScanSeconds = 5.0;
// A bound on packets read, for streams whose timestamps never advance.
constexpr int maxScanPackets = 6000;

struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct CodecDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Decoder = std::unique_ptr<AVCodecContext, CodecDeleter>;

bool HasDecoder(const AVCodecParameters *par)
{
    return avcodec_find_decoder(par->codec_id) != nullptr;
}

bool IsPictureStream(const AVStream *st)
{
    // Cover art travels as a one-frame video stream; it is no picture to convert.
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           st->codecpar->codec_id != AV_CODEC_ID_ANSI; // how plain text reads
}

bool IsDecodablePicture(const AVStream *st)
{
    const AVCodecParameters *par = st->codecpar;
    return IsPictureStream(st) && par->width > 0 && par->height > 0 && HasDecoder(par);
}

bool SoundParametersKnown(const AVCodecParameters *par)
{
    return par->sample_rate > 0 && par->ch_layout.nb_channels > 0 && HasDecoder(par);
}

Decoder OpenDecoder(const AVCodecParameters *par)
{
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    Decoder ctx(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0 ||
        avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return nullptr;
    return ctx;
}

bool DecodesToSamples(AVCodecContext *decoder, const AVPacket *packet, AVFrame *frame)
{
    if (avcodec_send_packet(decoder, packet) < 0)
        return false; // damaged packets are normal at the start of a cut-out transport stream
    bool samples = false;
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        samples = samples || frame->nb_samples > 0;
        av_frame_unref(frame);
    }
    return samples;
}

// Of the candidate streams (stream indices, in audio order), the position of the first whose
// packets decode to samples within the first seconds; -1 when none does. Reads from the start:
// the packets that stream-info probing read are still queued in the demuxer.
int FirstSoundingStream(AVFormatContext *fmt, const QList<int> &candidates)
{
    std::vector<Decoder> decoders;
    for (int index : candidates)
        decoders.push_back(OpenDecoder(fmt->streams[index]->codecpar));
    QList<bool> sounding(candidates.size(), false);
    Packet packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    if (!packet || !frame)
        return -1;
    double firstTime = NAN;
    for (int n = 0; n < maxScanPackets && !sounding.value(0); ++n) {
        if (av_read_frame(fmt, packet.get()) < 0)
            break;
        const AVStream *st = fmt->streams[packet->stream_index];
        const int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (ts != AV_NOPTS_VALUE) {
            const double t = ts * av_q2d(st->time_base);
            if (std::isnan(firstTime))
                firstTime = t;
            else if (t - firstTime > soundScanSeconds)
                break;
        }
        const int k = candidates.indexOf(packet->stream_index);
        if (k >= 0 && !sounding[k] && decoders[size_t(k)]) {
            sounding[k] = DecodesToSamples(decoders[size_t(k)].get(), packet.get(), frame.get());
        }
        av_packet_unref(packet.get());
    }
    return sounding.indexOf(true);
}

// Bytes of one AMR-NB frame in storage format, header byte included, by the header's mode.
int AmrFrameBytes(uint8_t header)
{
    static constexpr int bytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
    return bytes[(header >> 3) & 0x0F];
}

bool SeveralAmrFramesPerPacket(AVFormatContext *fmt, int streamIndex)
{
    Packet packet(av_packet_alloc());
    for (int n = 0; packet && n < maxScanPackets && av_read_frame(fmt, packet.get()) >= 0; ++n) {
        const bool ours = packet->stream_index == streamIndex && packet->size > 0;
        const bool several = ours && packet->size > AmrFrameBytes(packet->data[0]);
        av_packet_unref(packet.get());
        if (ours)
            return several;
    }
    return false;
}

double DurationOf(const AVFormatContext *fmt)
{
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return fmt->duration / double(AV_TIME_BASE);
    double longest = -1.0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            longest = std::max(longest, st->duration * av_q2d(st->time_base));
    }
    return std::isfinite(longest) ? longest : -1.0;
}

// The end of a stream counted from the container's start; -1 when it does not say.
double StreamEnd(const AVFormatContext *fmt, const AVStream *st)
{
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
        return -1.0;
    double start = 0.0;
    if (st->start_time != AV_NOPTS_VALUE && fmt->start_time != AV_NOPTS_VALUE)
        start = st->start_time * av_q2d(st->time_base) - fmt->start_time / double(AV_TIME_BASE);
    const double end = std::max(0.0, start) + st->duration * av_q2d(st->time_base);
    return std::isfinite(end) ? end : -1.0;
}

void FindSound(AVFormatContext *fmt, SourceInfo &info)
{
    QList<int> audio; // stream indices; the position is N of "0:a:N"
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio.append(int(i));
    }
    info.hasAudioStreams = !audio.isEmpty();
    QList<int> candidates;
    for (int index : audio) {
        if (SoundParametersKnown(fmt->streams[index]->codecpar))
            candidates.append(index);
    }
    if (candidates.isEmpty())
        return;
    int chosen = candidates.first();
    if (qstrcmp(fmt->iformat->name, "mpegts") == 0) {
        const int k = FirstSoundingStream(fmt, candidates);
        if (k < 0)
            return;
        chosen = candidates[k];
    }
    info.audioIndex = int(audio.indexOf(chosen));
    info.soundEndSeconds = StreamEnd(fmt, fmt->streams[chosen]);
    if (fmt->streams[chosen]->codecpar->codec_id == AV_CODEC_ID_AMR_NB)
        info.multiFrameAmr = SeveralAmrFramesPerPacket(fmt, chosen);
}

} // namespace

namespace {

SourceInfo ProbeNow(const QString &path)
{
    SourceInfo info;
    const QFileInfo file(path);
    if (!file.exists()) {
        info.problem = QStringLiteral("does not exist");
        return info;
    }
    if (file.isFile() && file.size() == 0) {
        info.problem = QStringLiteral("is empty");
        return info;
    }
    std::unique_ptr<MediaInput> input;
    try {
        input = std::make_unique<MediaInput>(path);
    } catch (const MediaError &) {
        info.problem = QStringLiteral("cannot be read as a video");
        return info;
    }
    AVFormatContext *fmt = input->Format();
    info.readable = true;
    info.durationSeconds = DurationOf(fmt);
    bool anyPicture = false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        anyPicture = anyPicture || IsPictureStream(fmt->streams[i]);
        if (!info.hasVideo && IsDecodablePicture(fmt->streams[i])) {
            info.hasVideo = true;
            info.pictureEndSeconds = StreamEnd(fmt, fmt->streams[i]);
            const AVRational rate = av_guess_frame_rate(fmt, fmt->streams[i], nullptr);
            if (rate.num > 0 && rate.den > 0)
                info.frameRateNum = rate.num, info.frameRateDen = rate.den;
        }
    }
    if (!info.hasVideo) {
        info.problem = anyPicture ? QStringLiteral("has a video stream that cannot be decoded")
                                  : QStringLiteral("has no video stream");
    }
    FindSound(fmt, info);
    return info;
}

} // namespace

extern "C" Q_DECL_EXPORT void kestrani_probe_source(const QString &path, SourceInfo &result)
{
    result = ProbeNow(path);
}
