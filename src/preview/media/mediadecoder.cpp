// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediadecoder.h"

#include "audioresampler.h"
#include "framescaler.h"
#include "mediaerror.h"
#include "mediainput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cmath>
#include <limits>
#include <utility>

namespace {

// A microsecond of slack: times computed as k / rate must land on frame k, not k - 1.
constexpr double timeSlack = 1e-6;
// Decoding on from the current picture beats seeking back when the key frame a seek would start
// from lies no later than this after it; without an index, when the target is this close.
constexpr double keyFrameSlack = 0.25;
constexpr double forwardWindow = 1.0;
// Sound read while decoding on is kept for the next playback only from shortly before the
// target: enough for the sound decoder to settle, so stepping through a long file cannot pile
// up its whole sound track.
constexpr double soundLeadIn = 0.5;

AVCodecContext *OpenCodec(AVStream *st, bool threads)
{
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return nullptr;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return nullptr;
    ctx->pkt_timebase = st->time_base;
    // Frame threads roughly halve the time of decoding forward from a key frame to an exact
    // seek target on two idle cores (slice threads serve streams coded in slices); they change
    // no picture. Sound decoders gain nothing from them.
    ctx->thread_count = threads ? 0 : 1;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_parameters_to_context(ctx, st->codecpar) < 0 ||
        avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

int ClockwiseRotation(const AVStream *st)
{
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return 0;
    // The matrix states the counter-clockwise turn that shows the picture upright.
    const double degrees = -av_display_rotation_get(matrix);
    if (std::isnan(degrees))
        return 0;
    const int quarter = int(std::lround(degrees / 90.0));
    return ((quarter % 4) + 4) % 4 * 90;
}

} // namespace

MediaDecoder::MediaDecoder(const QString &path, QSize box, const AudioFormatSpec &sound)
    : stamp(FileStamp::Of(path)), input(std::make_unique<MediaInput>(path)), box(box), sound(sound)
{
    try {
        OpenVideo();
        OpenAudio(sound);
    } catch (...) {
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        throw;
    }
    packet = av_packet_alloc();
    decoded = av_frame_alloc();
    soundFrame = av_frame_alloc();
    AVFormatContext *fmt = input->Format();
    if (fmt->start_time != AV_NOPTS_VALUE)
        startOffset = fmt->start_time / double(AV_TIME_BASE);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (int(i) != videoIndex && int(i) != audioIndex)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
}

MediaDecoder::~MediaDecoder()
{
    for (AVPacket *p : soundBacklog)
        av_packet_free(&p);
    av_frame_free(&ahead);
    av_frame_free(&decoded);
    av_frame_free(&soundFrame);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
}

const QString &MediaDecoder::Path() const
{
    return input->Path();
}

double MediaDecoder::Duration() const
{
    const AVFormatContext *fmt = input->Format();
    return fmt->duration > 0 ? fmt->duration / double(AV_TIME_BASE) : 0.0;
}

void MediaDecoder::OpenVideo()
{
    AVFormatContext *fmt = input->Format();
    videoIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0 || fmt->streams[videoIndex]->codecpar->codec_id == AV_CODEC_ID_ANSI)
        throw MediaError(QStringLiteral("\"%1\" holds no video").arg(input->Path()));
    videoStream = fmt->streams[videoIndex];
    video = OpenCodec(videoStream, true);
    if (!video)
        throw MediaError(
            QStringLiteral("\"%1\": no decoder for its video (%2)")
                .arg(input->Path(), avcodec_get_name(videoStream->codecpar->codec_id)));
    const AVRational rate = av_guess_frame_rate(fmt, videoStream, nullptr);
    if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000.0)
        frameDuration = 1.0 / av_q2d(rate);
    rotation = ClockwiseRotation(videoStream);
    scaler = std::make_unique<FrameScaler>(box, rotation);
}

void MediaDecoder::OpenAudio(const AudioFormatSpec &spec)
{
    if (!spec.IsValid())
        return;
    AVFormatContext *fmt = input->Format();
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
    if (index < 0)
        return;
    // A sound track we cannot decode leaves the picture playing silently.
    audio = OpenCodec(fmt->streams[index], false);
    if (!audio)
        return;
    audioIndex = index;
    resampler = std::make_unique<AudioResampler>(spec);
}

void MediaDecoder::SeekDemuxer(double seconds)
{
    AVFormatContext *fmt = input->Format();
    // The very beginning is best reached by bytes where the format allows it: a timestamp seek
    // in a transport stream can land after the first key frame.
    const bool bytes = !(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK);
    if (seconds <= 0.0 && bytes && avformat_seek_file(fmt, -1, 0, 0, 0, AVSEEK_FLAG_BYTE) >= 0)
        return;
    const int64_t origin = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
    const int64_t ts = origin + std::llround(seconds * AV_TIME_BASE);
    int rc = avformat_seek_file(fmt, -1, INT64_MIN, ts, ts, 0);
    if (rc < 0)
        rc = av_seek_frame(fmt, -1, ts, AVSEEK_FLAG_BACKWARD);
    // Streams without an index (raw elementary streams) may refuse to seek: start over from the
    // first byte and decode forward, which is slow but exact.
    if (rc < 0 && bytes)
        avformat_seek_file(fmt, -1, 0, 0, 0, AVSEEK_FLAG_BYTE);
}

void MediaDecoder::FlushAll()
{
    avcodec_flush_buffers(video);
    if (audio)
        avcodec_flush_buffers(audio);
    if (resampler)
        resampler->Reset();
    for (AVPacket *p : soundBacklog)
        av_packet_free(&p);
    soundBacklog.clear();
    av_frame_free(&ahead);
    demuxEnded = videoEnded = audioEnded = false;
    lastVideoPts = -1.0;
    holding = false;
    held = {};
}

VideoFrame MediaDecoder::SeekExact(double seconds)
{
    seconds = std::max(0.0, seconds);
    if (HoldsFrameAt(seconds)) {
        AimSound(seconds);
        lastRoute = Route::Held;
        return held;
    }
    if (WorthDecodingOn(seconds)) {
        // Decoding on finds the same frame a seek would, provided it has not been passed: the
        // frame at the current position may already have been handed out. Then seek after all.
        const std::optional<VideoFrame> shown = Advance(seconds);
        if (shown && !shown->IsNull() && shown->pts <= seconds + timeSlack)
            return Hold(*shown, Route::Forward);
    }
    // Some demuxers (transport streams, odd QuickTime files) land after the key frame before
    // the target; then the first picture decoded is already past it. Seek again further back
    // until the target is covered or decoding starts from the very beginning. A seek near the
    // end can also land after the last picture (transport streams do).
    double from = seconds;
    for (double backoff = 1.0;; backoff *= 2.0) {
        VideoFrame shown;
        try {
            shown = DecodeFrom(from, seconds);
        } catch (const MediaError &) {
            if (from <= 0.0)
                throw;
            from = std::max(0.0, seconds - backoff);
            continue;
        }
        if (shown.pts <= seconds + timeSlack || from <= 0.0)
            return Hold(std::move(shown), Route::Seek);
        from = std::max(0.0, seconds - backoff);
    }
}

VideoFrame MediaDecoder::Hold(VideoFrame shown, Route route)
{
    held = shown;
    holding = true;
    lastRoute = route;
    return shown;
}

// True when the picture the last seek returned is still the answer: nothing was read after it
// and `seconds` lies within its interval (the next picture, already decoded, starts later).
bool MediaDecoder::HoldsFrameAt(double seconds)
{
    if (!holding || held.pts > seconds + timeSlack)
        return false;
    if (ahead)
        return aheadPts > seconds + timeSlack;
    return videoEnded; // the held picture is the last one
}

bool MediaDecoder::WorthDecodingOn(double seconds) const
{
    if (untouched || lastVideoPts < 0.0 || (videoEnded && !ahead))
        return false;
    if (seconds + timeSlack < lastVideoPts)
        return false; // behind the current position: only a seek goes back
    if (seconds - lastVideoPts <= forwardWindow)
        return true;
    double key = KeyFrameBefore(seconds);
    // Indexes may list decoding times, which run ahead of presentation by the reordering delay:
    // a key frame listed just before the target can be shown after it, and then a seek has to
    // start from the key frame before that one.
    const double reorder = (video->has_b_frames + 1) * frameDuration;
    if (!std::isnan(key) && seconds - key < reorder)
        key = KeyFrameBefore(key - frameDuration / 2.0);
    return !std::isnan(key) && key <= lastVideoPts + keyFrameSlack;
}

// The time of the last key frame at or before `seconds` in the demuxer's index, or NaN when the
// index knows none (streams without an index, times before the first entry).
double MediaDecoder::KeyFrameBefore(double seconds) const
{
    const double tb = av_q2d(videoStream->time_base);
    if (tb <= 0.0)
        return std::numeric_limits<double>::quiet_NaN();
    const auto ts = int64_t(std::llround((seconds + startOffset) / tb));
    const int i = av_index_search_timestamp(videoStream, ts, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry *entry = i >= 0 ? avformat_index_get_entry(videoStream, i) : nullptr;
    if (!entry)
        return std::numeric_limits<double>::quiet_NaN();
    return entry->timestamp * tb - startOffset;
}

// Sound after a seek starts at the target; what was read before it is dropped, except a short
// lead-in the sound decoder needs.
void MediaDecoder::AimSound(double seconds)
{
    soundFloor = seconds;
    nextSoundPts = seconds;
    if (audioIndex < 0)
        return;
    const double tb = av_q2d(input->Format()->streams[audioIndex]->time_base);
    while (!soundBacklog.empty()) {
        AVPacket *p = soundBacklog.front();
        if (p->pts == AV_NOPTS_VALUE ||
            (p->pts + p->duration) * tb - startOffset >= seconds - soundLeadIn)
            break;
        av_packet_free(&p);
        soundBacklog.pop_front();
    }
}

VideoFrame MediaDecoder::DecodeFrom(double from, double seconds)
{
    if (!untouched || from > 0.0) {
        SeekDemuxer(from);
        FlushAll();
    }
    untouched = false;
    const std::optional<VideoFrame> shown = Advance(seconds);
    if (!shown)
        throw MediaError(QStringLiteral("\"%1\": no picture could be decoded").arg(input->Path()));
    if (shown->IsNull())
        throw MediaError(QStringLiteral("\"%1\": the picture has no size").arg(input->Path()));
    return *shown;
}

// Decodes on from the current position to the frame whose interval contains `seconds` (or the
// first frame after the position, when that already starts later). Nothing when no picture
// comes before the end of the input.
std::optional<VideoFrame> MediaDecoder::Advance(double seconds)
{
    holding = false;
    held = {};
    AimSound(seconds);
    skipBefore = seconds;
    AVFrame *best = nullptr;
    double bestPts = 0.0;
    while (AVFrame *frame = NextVideoFrame()) {
        const double pts = VideoPts(frame);
        lastVideoPts = pts;
        const bool past = pts > seconds + timeSlack;
        if (best && past) {
            ahead = frame;
            aheadPts = pts;
            break;
        }
        av_frame_free(&best);
        best = frame;
        bestPts = pts;
        if (past)
            break;
    }
    skipBefore = -1.0;
    if (!best)
        return std::nullopt;
    VideoFrame shown = Picture(best);
    shown.pts = bestPts;
    if (ahead)
        shown.duration = aheadPts - bestPts; // the true interval, not an estimate
    lastVideoPts = ahead ? aheadPts : bestPts;
    av_frame_free(&best);
    return shown;
}

// The next video frame in presentation order, owned by the caller: the one kept from the last
// seek first, then what the decoder gives. Null at the end.
AVFrame *MediaDecoder::NextVideoFrame()
{
    if (ahead)
        return std::exchange(ahead, nullptr);
    AVFrame *frame = DecodeVideo(true);
    return frame ? av_frame_clone(frame) : nullptr;
}

MediaDecoder::Item MediaDecoder::Next(VideoFrame &videoOut, AudioChunk &audioOut)
{
    untouched = false;
    holding = false;
    held = {};
    for (;;) {
        if (ahead) {
            videoOut = Picture(ahead);
            videoOut.pts = aheadPts;
            av_frame_free(&ahead);
            return Item::Video;
        }
        if (ReceiveAudio(audioOut))
            return Item::Audio;
        if (ReceiveVideo()) {
            videoOut = Picture(decoded);
            videoOut.pts = VideoPts(decoded);
            lastVideoPts = videoOut.pts;
            return Item::Video;
        }
        if (videoEnded && (!audio || audioEnded))
            return Item::End;
        if (!soundBacklog.empty()) {
            AVPacket *p = soundBacklog.front();
            soundBacklog.pop_front();
            avcodec_send_packet(audio, p);
            av_packet_free(&p);
            continue;
        }
        if (!FeedPacket(false))
            EndOfInput();
    }
}

// One decoded video frame (owned by the decoder, valid until the next call) or null at the end.
AVFrame *MediaDecoder::DecodeVideo(bool keepSound)
{
    for (;;) {
        if (ReceiveVideo())
            return decoded;
        if (videoEnded)
            return nullptr;
        if (!FeedPacket(keepSound))
            EndOfInput();
    }
}

bool MediaDecoder::ReceiveVideo()
{
    if (videoEnded)
        return false;
    const int rc = avcodec_receive_frame(video, decoded);
    if (rc == AVERROR_EOF)
        videoEnded = true;
    return rc == 0;
}

bool MediaDecoder::ReceiveAudio(AudioChunk &out)
{
    while (audio && !audioEnded) {
        const int rc = avcodec_receive_frame(audio, soundFrame);
        if (rc == AVERROR_EOF)
            audioEnded = true;
        if (rc != 0)
            return false;
        const AVStream *st = input->Format()->streams[audioIndex];
        double pts = nextSoundPts;
        if (soundFrame->best_effort_timestamp != AV_NOPTS_VALUE)
            pts = soundFrame->best_effort_timestamp * av_q2d(st->time_base) - startOffset;
        const double length = soundFrame->sample_rate > 0
                                  ? soundFrame->nb_samples / double(soundFrame->sample_rate)
                                  : 0.0;
        nextSoundPts = pts + length;
        if (pts + length <= soundFloor)
            continue; // before the seek target
        out.samples = resampler->Convert(soundFrame);
        out.pts = pts;
        out.duration = double(out.samples.size()) / sound.BytesPerFrame() / sound.sampleRate;
        av_frame_unref(soundFrame);
        if (!out.samples.isEmpty())
            return true;
    }
    return false;
}

// Reads one packet and hands it on. False at the end of the input (or on a read error, which
// for a truncated file is the same thing).
bool MediaDecoder::FeedPacket(bool keepSound)
{
    if (demuxEnded)
        return false;
    const int rc = av_read_frame(input->Format(), packet);
    if (rc < 0) {
        demuxEnded = true;
        return false;
    }
    if (packet->stream_index == videoIndex) {
        video->skip_frame = Skippable(packet) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        // Damaged packets are skipped: the decoder reports them and carries on.
        avcodec_send_packet(video, packet);
    } else if (packet->stream_index == audioIndex) {
        if (keepSound)
            soundBacklog.push_back(av_packet_clone(packet));
        else
            avcodec_send_packet(audio, packet);
    }
    av_packet_unref(packet);
    return true;
}

// While decoding forward to a seek target, a picture no other picture refers to need not be
// decoded at all when it leaves the screen before the target: this halves the work on typical
// B-frame streams. Only packets with a known interval qualify, and that interval is taken as at
// least one frame at the stream's rate: parsers give field pictures half a frame's duration.
bool MediaDecoder::Skippable(const AVPacket *p) const
{
    if (skipBefore <= 0.0 || p->pts == AV_NOPTS_VALUE || p->duration <= 0)
        return false;
    const double tb = av_q2d(videoStream->time_base);
    const double ends = p->pts * tb - startOffset + std::max(p->duration * tb, frameDuration);
    return ends < skipBefore - 1e-6;
}

void MediaDecoder::EndOfInput()
{
    // Sending the end once drains the decoders; after that they answer AVERROR_EOF.
    if (!videoEnded && avcodec_send_packet(video, nullptr) == AVERROR_EOF)
        videoEnded = true;
    if (audio && soundBacklog.empty() && !audioEnded &&
        avcodec_send_packet(audio, nullptr) == AVERROR_EOF)
        audioEnded = true;
}

double MediaDecoder::VideoPts(const AVFrame *frame)
{
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE)
        return lastVideoPts < 0.0 ? 0.0 : lastVideoPts + frameDuration;
    return frame->best_effort_timestamp * av_q2d(videoStream->time_base) - startOffset;
}

VideoFrame MediaDecoder::Picture(const AVFrame *frame)
{
    const AVRational sar =
        av_guess_sample_aspect_ratio(input->Format(), videoStream, const_cast<AVFrame *>(frame));
    VideoFrame out = scaler->Convert(frame, sar);
    out.duration = frame->pkt_duration > 0 ? frame->pkt_duration * av_q2d(videoStream->time_base)
                                           : frameDuration;
    return out;
}
