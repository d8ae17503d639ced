// SPDX-License-Identifier: GPL-3.0-or-later
#include "packetscan.h"

#include <algorithm>
#include <cmath>

namespace {

double OriginSeconds(const AVFormatContext *fmt)
{
    return fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / double(AV_TIME_BASE) : 0.0;
}

// Positions the file at a key frame at or before `seconds` from its start.
bool SeekToSeconds(AVFormatContext *fmt, double seconds)
{
    const int64_t origin = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
    const int64_t target = origin + int64_t(std::max(0.0, seconds) * AV_TIME_BASE);
    if (avformat_seek_file(fmt, -1, INT64_MIN, target, target, 0) >= 0)
        return true;
    // Streams without an index (raw video, some program streams) can still be read again
    // from their first byte.
    return seconds <= 0.0 && av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

// A packet the demuxer marked damaged, or one that claims more bytes than the file has left
// (some demuxers fill a picture cut off by the file's end up to its full size).
bool IsWhole(const AVPacket *packet, int64_t fileSize)
{
    return !(packet->flags & AV_PKT_FLAG_CORRUPT) &&
           !(fileSize > 0 && packet->pos >= 0 && packet->pos + packet->size > fileSize);
}

double FrameDuration(const AVFrame *frame)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    return double(frame->duration);
#else
    return double(frame->pkt_duration);
#endif
}

} // namespace

double NominalInterval(const AVStream *st)
{
    for (AVRational r : {st->avg_frame_rate, st->r_frame_rate})
        if (r.num > 0 && r.den > 0)
            return av_q2d(av_inv_q(r));
    return 0.0;
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

void StreamSpan::Add(double at, double duration, bool isWhole)
{
    ++packets;
    whole += isWhole;
    if (!std::isfinite(at))
        return;
    if (start < 0 || at < start)
        start = std::max(0.0, at);
    if (at > lastStart) {
        previousStart = lastStart;
        lastStart = at;
        lastDuration = duration;
    } else if (at > previousStart && at < lastStart) {
        previousStart = at;
    }
}

bool StreamSpan::Add(const AVFormatContext *fmt, const AVPacket *packet, int64_t fileSize)
{
    const AVRational unit = fmt->streams[packet->stream_index]->time_base;
    const bool isWhole = IsWhole(packet, fileSize);
    Add(PacketSeconds(fmt, packet), packet->duration > 0 ? packet->duration * av_q2d(unit) : 0.0,
        isWhole);
    return isWhole;
}

double StreamSpan::LastInterval(double fallback) const
{
    if (lastDuration > 0)
        return lastDuration;
    return previousStart >= 0 ? lastStart - previousStart : fallback;
}

double StreamSpan::End(double fallback) const
{
    return lastStart < 0 ? -1.0 : std::max(0.0, lastStart + LastInterval(fallback));
}

double PacketSeconds(const AVFormatContext *fmt, const AVPacket *packet)
{
    const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts == AV_NOPTS_VALUE)
        return NAN;
    return ts * av_q2d(fmt->streams[packet->stream_index]->time_base) - OriginSeconds(fmt);
}

bool ScanFrom(AVFormatContext *fmt, double fromSeconds, std::vector<StreamSpan> &spans,
              const std::function<void(const AVPacket *)> &onPacket)
{
    spans.assign(fmt->nb_streams, StreamSpan());
    if (!SeekToSeconds(fmt, fromSeconds))
        return false;
    const int64_t fileSize = fmt->pb ? avio_size(fmt->pb) : -1;
    Packet packet(av_packet_alloc());
    while (packet && av_read_frame(fmt, packet.get()) >= 0) {
        const unsigned i = unsigned(packet->stream_index);
        if (i < spans.size()) {
            spans[i].Add(fmt, packet.get(), fileSize);
            if (onPacket)
                onPacket(packet.get());
        }
        av_packet_unref(packet.get());
    }
    return true;
}

double DecodedPictureEnd(AVFormatContext *fmt, int index, double partEnd,
                         const std::function<bool()> &stop)
{
    const AVStream *st = fmt->streams[index];
    Decoder decoder = OpenDecoder(st->codecpar);
    Packet packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    if (!decoder || !packet || !frame)
        return -1.0;
    const double origin = OriginSeconds(fmt);
    const double unit = av_q2d(st->time_base);
    // Back from the end in growing steps: the pictures that decode usually reach it.
    for (double window = 5.0;; window *= 4) {
        const double from = std::max(0.0, partEnd - window);
        if (!SeekToSeconds(fmt, from))
            return -1.0;
        avcodec_flush_buffers(decoder.get());
        StreamSpan shown;
        const auto take = [&] {
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                const int64_t ts = frame->best_effort_timestamp;
                const double at = ts == AV_NOPTS_VALUE ? NAN : ts * unit - origin;
                if (std::isfinite(at) && at < partEnd - 1e-6)
                    shown.Add(at, std::max(0.0, FrameDuration(frame.get()) * unit), true);
                av_frame_unref(frame.get());
            }
        };
        bool past = false; // decoding order runs a few pictures ahead of showing order
        while (!past && av_read_frame(fmt, packet.get()) >= 0) {
            if (stop && stop()) {
                av_packet_unref(packet.get());
                return -1.0;
            }
            if (packet->stream_index == index) {
                const double at = PacketSeconds(fmt, packet.get());
                past = std::isfinite(at) && at > partEnd + 2.0;
                if (avcodec_send_packet(decoder.get(), packet.get()) >= 0)
                    take();
            }
            av_packet_unref(packet.get());
        }
        avcodec_send_packet(decoder.get(), nullptr);
        take();
        if (shown.lastStart >= 0)
            return std::min(partEnd, shown.End(NominalInterval(st)));
        if (from <= 0.0)
            return -1.0;
    }
}
