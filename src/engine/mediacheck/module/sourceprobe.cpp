// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediacheck/sourceprobe.h"

#include "mediaerror.h"
#include "mediainput.h"
#include "packetscan.h"

#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// How far into a file a sound stream must have produced samples to count from its start:
// broadcast recordings list audio PIDs that never carry a packet, and Matroska files keep
// tracks that hold none. A stream silent there may still sound at the end.
constexpr double soundScanSeconds = 5.0;
// A bound on packets read, for streams whose timestamps never advance.
constexpr int maxScanPackets = 6000;
// How much of the file's end is read to see where its streams really end. Headers that
// promise more than this beyond the last packet make the whole file be read.
constexpr double tailSeconds = 5.0;

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

// Bytes of one AMR-NB frame in storage format, header byte included, by the header's mode.
int AmrFrameBytes(uint8_t header)
{
    static constexpr int bytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
    return bytes[(header >> 3) & 0x0F];
}

// The sound streams worth choosing (stream indices, in audio order) and what their packets
// showed: whether one decoded to samples, and how its first packet stores AMR-NB frames.
class SoundSearch
{
public:
    SoundSearch(AVFormatContext *fmt, const QList<int> &candidates)
        : fmt(fmt), candidates(candidates), sounding(candidates.size(), false),
          severalAmr(candidates.size(), -1)
    {
        for (int index : candidates)
            decoders.push_back(OpenDecoder(fmt->streams[index]->codecpar));
    }

    void Look(const AVPacket *packet)
    {
        const int k = int(candidates.indexOf(packet->stream_index));
        if (k < 0)
            return;
        if (severalAmr[k] < 0 && packet->size > 0 &&
            fmt->streams[packet->stream_index]->codecpar->codec_id == AV_CODEC_ID_AMR_NB)
            severalAmr[k] = packet->size > AmrFrameBytes(packet->data[0]);
        if (!sounding[k] && decoders[size_t(k)])
            sounding[k] = DecodesToSamples(decoders[size_t(k)].get(), packet);
    }
    bool FirstSounds() const { return sounding.value(0); }
    // The position among the candidates of the first that sounded; -1 when none did.
    int FirstSounding() const { return int(sounding.indexOf(true)); }
    int Index(int k) const { return candidates.value(k, -1); }
    bool SeveralAmrFrames(int k) const { return severalAmr.value(k) == 1; }

private:
    bool DecodesToSamples(AVCodecContext *decoder, const AVPacket *packet)
    {
        if (!frame)
            frame.reset(av_frame_alloc());
        // Damaged packets are normal at the start of a cut-out transport stream.
        if (!frame || avcodec_send_packet(decoder, packet) < 0)
            return false;
        bool samples = false;
        while (avcodec_receive_frame(decoder, frame.get()) >= 0) {
            samples = samples || frame->nb_samples > 0;
            av_frame_unref(frame.get());
        }
        return samples;
    }

    AVFormatContext *fmt;
    QList<int> candidates;
    std::vector<Decoder> decoders;
    QList<bool> sounding;
    QList<int> severalAmr; // -1 while no packet was seen
    Frame frame;
};

// Reads the first seconds from where the stream-info probing left the packets queued (the
// start), until the first candidate sounds.
void ScanHead(AVFormatContext *fmt, SoundSearch &search)
{
    Packet packet(av_packet_alloc());
    double firstTime = NAN;
    for (int n = 0; packet && n < maxScanPackets && !search.FirstSounds(); ++n) {
        if (av_read_frame(fmt, packet.get()) < 0)
            break;
        const double t = PacketSeconds(fmt, packet.get());
        if (std::isfinite(t)) {
            if (std::isnan(firstTime))
                firstTime = t;
            else if (t - firstTime > soundScanSeconds)
                n = maxScanPackets;
        }
        search.Look(packet.get());
        av_packet_unref(packet.get());
    }
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

// The end of a stream as its header says, counted from the container's start; -1 when it
// does not say.
double HeaderEnd(const AVFormatContext *fmt, const AVStream *st)
{
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
        return -1.0;
    double start = 0.0;
    if (st->start_time != AV_NOPTS_VALUE && fmt->start_time != AV_NOPTS_VALUE)
        start = st->start_time * av_q2d(st->time_base) - fmt->start_time / double(AV_TIME_BASE);
    const double end = std::max(0.0, start) + st->duration * av_q2d(st->time_base);
    return std::isfinite(end) ? end : -1.0;
}

QList<int> SoundCandidates(const AVFormatContext *fmt, QList<int> &audio)
{
    QList<int> candidates;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (fmt->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        audio.append(int(i)); // the position is N of "0:a:N"
        if (SoundParametersKnown(fmt->streams[i]->codecpar))
            candidates.append(int(i));
    }
    return candidates;
}

// The subtitle streams and what FFmpeg can draw of each: text its decoder turns into ASS,
// pictures it can lay over the video, or neither.
void FindSubtitles(const AVFormatContext *fmt, SourceInfo &info)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        SubtitleStream stream;
        stream.index = int(info.subtitleStreams.size());
        stream.codec = QString::fromLatin1(avcodec_get_name(st->codecpar->codec_id));
        if (const AVDictionaryEntry *language = av_dict_get(st->metadata, "language", nullptr, 0))
            stream.language = QString::fromUtf8(language->value);
        const AVCodecDescriptor *descriptor = avcodec_descriptor_get(st->codecpar->codec_id);
        const int props = descriptor ? descriptor->props : 0;
        const bool text = props & AV_CODEC_PROP_TEXT_SUB,
                   pictures = props & AV_CODEC_PROP_BITMAP_SUB;
        if (!avcodec_find_decoder(st->codecpar->codec_id) || text == pictures)
            stream.kind = SubtitleStream::Other; // teletext says both, and is neither here
        else
            stream.kind = text ? SubtitleStream::Text : SubtitleStream::Bitmap;
        info.subtitleStreams.append(stream);
    }
}

// Where the picture and the sound end by their packets, the sound chosen on the way: the one
// that sounds from the start, else the first that sounds at all.
void ReadStreams(AVFormatContext *fmt, int video, SourceInfo &info)
{
    QList<int> audio;
    const QList<int> candidates = SoundCandidates(fmt, audio);
    info.hasAudioStreams = !audio.isEmpty();
    SoundSearch search(fmt, candidates);
    ScanHead(fmt, search);
    const int fromStart = search.FirstSounding();

    const double hint = std::max(info.durationSeconds, info.pictureEndSeconds);
    double from = hint > 0 ? std::max(0.0, hint - tailSeconds) : 0.0;
    std::vector<StreamSpan> spans;
    const auto look = [&search](const AVPacket *packet) { search.Look(packet); };
    bool read = ScanFrom(fmt, from, spans, look);
    const bool pictureMissed = read && spans[size_t(video)].whole == 0;
    // The header promised more than the file holds, or its tail is damaged, or nothing sounded
    // yet in a file whose sound track may be empty: read it all.
    if (from > 0 &&
        (!read || pictureMissed || (search.FirstSounding() < 0 && !candidates.isEmpty())))
        read = ScanFrom(fmt, from = 0.0, spans, look);

    const int k = fromStart >= 0 ? fromStart : search.FirstSounding();
    if (k >= 0) {
        const int index = search.Index(k);
        info.audioIndex = int(audio.indexOf(index));
        info.multiFrameAmr = search.SeveralAmrFrames(k);
        const StreamSpan &sound = read ? spans[size_t(index)] : StreamSpan();
        info.soundEndSeconds =
            sound.lastStart >= 0 ? sound.End() : HeaderEnd(fmt, fmt->streams[index]);
    }
    if (!read)
        return; // the header's word is all there is
    const StreamSpan &picture = spans[size_t(video)];
    const double nominal = NominalInterval(fmt->streams[video]);
    if (picture.packets == 0)
        info.problem = QStringLiteral("has a video stream that holds no picture");
    else if (picture.whole == 0)
        info.problem = QStringLiteral("holds no whole picture: the file is cut short");
    else if (picture.lastStart >= 0) {
        info.pictureEndSeconds = picture.End(nominal);
        info.lastPictureSeconds = picture.LastInterval(nominal);
    }
}

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
    } catch (const MediaError &e) {
        info.problem = QStringLiteral("cannot be read as a video: %1").arg(e.Reason());
        return info;
    }
    AVFormatContext *fmt = input->Format();
    info.readable = true;
    info.durationSeconds = DurationOf(fmt);
    bool anyPicture = false;
    int video = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        anyPicture = anyPicture || IsPictureStream(fmt->streams[i]);
        if (video < 0 && IsDecodablePicture(fmt->streams[i])) {
            video = int(i);
            info.hasVideo = true;
            info.pictureEndSeconds = HeaderEnd(fmt, fmt->streams[i]);
            const AVRational rate = av_guess_frame_rate(fmt, fmt->streams[i], nullptr);
            if (rate.num > 0 && rate.den > 0)
                info.frameRateNum = rate.num, info.frameRateDen = rate.den;
        }
    }
    if (video < 0) {
        info.problem = anyPicture ? QStringLiteral("has a video stream that cannot be decoded")
                                  : QStringLiteral("has no video stream");
        return info;
    }
    ReadStreams(fmt, video, info);
    FindSubtitles(fmt, info);
    return info;
}

} // namespace

extern "C" Q_DECL_EXPORT void kestrani_probe_source(const QString &path, SourceInfo &result)
{
    result = ProbeNow(path);
}
