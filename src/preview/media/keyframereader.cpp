// SPDX-License-Identifier: GPL-3.0-or-later
#include "keyframereader.h"

#include "framescaler.h"
#include "mediaerror.h"
#include "mediainput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double timeSlack = 1e-6;
// A file whose packets never say "key" must not be read to its end on every drag step.
constexpr int packetsToKey = 3000;

} // namespace

KeyFrameReader::KeyFrameReader(const QString &path, QSize box, int clockwiseDegrees)
    : stamp(FileStamp::Of(path)), input(std::make_unique<MediaInput>(path)), box(box)
{
    AVFormatContext *fmt = input->Format();
    videoIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0 || fmt->streams[videoIndex]->codecpar->codec_id == AV_CODEC_ID_ANSI)
        throw MediaError(QStringLiteral("\"%1\" holds no video").arg(path));
    stream = fmt->streams[videoIndex];
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (int(i) != videoIndex)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    // QuickTime and MP4 files list every key frame in their index, and seeking there lands on
    // the last one before the time asked for.
    completeIndex = std::strncmp(fmt->iformat->name, "mov,", 4) == 0;
    if (fmt->start_time != AV_NOPTS_VALUE)
        startOffset = fmt->start_time / double(AV_TIME_BASE);
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (codec) {
        codec->pkt_timebase = stream->time_base;
        // One picture at a time: frame threads would only add their start-up delay.
        codec->thread_count = 1;
        if (avcodec_parameters_to_context(codec, stream->codecpar) < 0 ||
            avcodec_open2(codec, decoder, nullptr) < 0)
            avcodec_free_context(&codec);
    }
    if (!codec)
        throw MediaError(QStringLiteral("\"%1\": no decoder for its video").arg(path));
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    scaler = std::make_unique<FrameScaler>(box, clockwiseDegrees);
}

KeyFrameReader::~KeyFrameReader()
{
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
}

VideoFrame KeyFrameReader::KeyFrameAt(double seconds)
{
    seconds = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    // Seeking finds the key frame by decoding time, which runs ahead of presentation by the
    // reordering delay, and some demuxers land later than asked (even after the last key frame):
    // step back until a key frame is found that is shown no later than the time asked for.
    double from = seconds;
    for (double backoff = 1.0;; backoff *= 2.0) {
        if (!ReadKeyPacket(from)) {
            if (from <= 0.0)
                return {};
            from = std::max(0.0, from - backoff); // landed after the last key frame
            continue;
        }
        const double pts = PacketPts();
        if (pts <= seconds + timeSlack || from <= 0.0)
            break;
        const double tb = av_q2d(stream->time_base);
        const double keyDts = packet->dts != AV_NOPTS_VALUE ? packet->dts * tb - startOffset : pts;
        from = std::max(0.0, std::min(from - backoff, keyDts - 0.001));
    }
    if (!completeIndex && PacketPts() <= seconds + timeSlack)
        ReadOnToLastKey(seconds);
    const std::int64_t key = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (const VideoFrame *kept = Find(key)) {
        av_packet_unref(packet);
        return *kept;
    }
    VideoFrame picture = Decode();
    if (picture.IsNull())
        return picture;
    cache.push_front({key, picture});
    if (cache.size() > size_t(cachedPictures))
        cache.pop_back();
    return picture;
}

// Leaves the first key packet of the video at or after the seek position in `packet`.
bool KeyFrameReader::ReadKeyPacket(double from)
{
    av_packet_unref(packet);
    AVFormatContext *fmt = input->Format();
    const bool bytes = !(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK);
    int rc = -1;
    if (from <= 0.0 && bytes)
        rc = avformat_seek_file(fmt, -1, 0, 0, 0, AVSEEK_FLAG_BYTE);
    if (rc < 0) {
        const double tb = av_q2d(stream->time_base);
        const auto ts = std::int64_t(std::llround((from + startOffset) / tb));
        rc = avformat_seek_file(fmt, videoIndex, INT64_MIN, ts, ts, 0);
        if (rc < 0)
            rc = av_seek_frame(fmt, videoIndex, ts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0 && bytes)
            avformat_seek_file(fmt, -1, 0, 0, 0, AVSEEK_FLAG_BYTE);
    }
    for (int read = 0; read < packetsToKey; ++read) {
        if (av_read_frame(fmt, packet) < 0)
            return false;
        if (packet->stream_index == videoIndex && (packet->flags & AV_PKT_FLAG_KEY))
            return true;
        av_packet_unref(packet);
    }
    return false;
}

// Program and transport streams seek by searching for timestamps and may land a key frame or
// more before the time: read on (reading without decoding is cheap) to the last key packet
// shown no later than `seconds`, and leave it in `packet`.
void KeyFrameReader::ReadOnToLastKey(double seconds)
{
    AVPacket *next = av_packet_alloc();
    const double tb = av_q2d(stream->time_base);
    for (int read = 0; next && read < packetsToKey && av_read_frame(input->Format(), next) >= 0;
         ++read) {
        if (next->stream_index != videoIndex) {
            av_packet_unref(next);
            continue;
        }
        const std::int64_t decodes = next->dts != AV_NOPTS_VALUE ? next->dts : next->pts;
        if (decodes != AV_NOPTS_VALUE && decodes * tb - startOffset > seconds + timeSlack)
            break;
        if ((next->flags & AV_PKT_FLAG_KEY) && next->pts != AV_NOPTS_VALUE &&
            next->pts * tb - startOffset <= seconds + timeSlack) {
            av_packet_unref(packet);
            av_packet_move_ref(packet, next);
        } else {
            av_packet_unref(next);
        }
    }
    av_packet_free(&next);
}

const VideoFrame *KeyFrameReader::Find(std::int64_t key)
{
    const auto hit =
        std::find_if(cache.begin(), cache.end(), [key](const Cached &c) { return c.key == key; });
    if (hit == cache.end())
        return nullptr;
    cache.splice(cache.begin(), cache, hit);
    return &cache.front().picture;
}

double KeyFrameReader::PacketPts() const
{
    const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    return ts == AV_NOPTS_VALUE ? 0.0 : ts * av_q2d(stream->time_base) - startOffset;
}

// Decodes the key packet alone: sending the end right after it makes the decoder give the
// picture up at once instead of waiting for the pictures that would follow it. An interlaced
// picture coded as two fields comes in two packets; then the packets after the key one are
// added one at a time until a picture comes out.
VideoFrame KeyFrameReader::Decode()
{
    VideoFrame picture = DecodeWith({});
    AVFormatContext *fmt = input->Format();
    if (!picture.IsNull() || packet->pos < 0 || (fmt->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
        av_packet_unref(packet);
        return picture;
    }
    std::vector<AVPacket *> following;
    if (avformat_seek_file(fmt, -1, packet->pos, packet->pos, packet->pos, AVSEEK_FLAG_BYTE) >= 0) {
        bool pastKey = false;
        AVPacket *next = av_packet_alloc();
        for (int read = 0; next && following.size() < 3 && read < 100; ++read) {
            if (av_read_frame(fmt, next) < 0)
                break;
            if (next->stream_index == videoIndex && pastKey)
                following.push_back(av_packet_clone(next));
            else if (next->stream_index == videoIndex)
                pastKey = next->pos == packet->pos || next->pts == packet->pts;
            av_packet_unref(next);
        }
        av_packet_free(&next);
    }
    for (size_t n = 1; n <= following.size() && picture.IsNull(); ++n)
        picture = DecodeWith({following.begin(), following.begin() + n});
    for (AVPacket *p : following)
        av_packet_free(&p);
    av_packet_unref(packet);
    return picture;
}

VideoFrame KeyFrameReader::DecodeWith(const std::vector<AVPacket *> &following)
{
    const double packetPts = PacketPts();
    VideoFrame picture;
    bool sent = avcodec_send_packet(codec, packet) >= 0;
    for (AVPacket *p : following)
        sent = sent && avcodec_send_packet(codec, p) >= 0;
    if (sent && avcodec_send_packet(codec, nullptr) >= 0 &&
        avcodec_receive_frame(codec, frame) == 0) {
        const AVRational sar = av_guess_sample_aspect_ratio(input->Format(), stream, frame);
        picture = scaler->Convert(frame, sar);
        picture.pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                          ? frame->best_effort_timestamp * av_q2d(stream->time_base) - startOffset
                          : packetPts;
        picture.duration =
            frame->pkt_duration > 0 ? frame->pkt_duration * av_q2d(stream->time_base) : 0.0;
        ++decodedCount;
    }
    av_frame_unref(frame);
    avcodec_flush_buffers(codec);
    return picture;
}
