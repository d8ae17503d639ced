// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediacheck/outputcheck.h"

#include "decodetally.h"
#include "mediaerror.h"
#include "mediainput.h"
#include "packetscan.h"

#include <QThread>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Measured rates carry rounding (a mean over a short clip); a cap of 15000/1001 still takes 15.
constexpr double rateTolerance = 1.005;
// Sound that stops earlier than this share of the picture is a broken result, not rounding.
constexpr double minSoundShare = 0.9;
constexpr double soundFrameSeconds = 0.064;
// Timestamps are rounded to the millisecond by some containers.
constexpr double timeSlack = 0.001;

QString Seconds(double s)
{
    return QString::number(s, 'f', 2) + QStringLiteral(" s");
}

QString Rate(double fps)
{
    return QString::number(fps, 'g', 5);
}

bool Stopping()
{
    return QThread::currentThread()->isInterruptionRequested();
}

QStringList BrandsOf(const AVFormatContext *fmt)
{
    QStringList brands;
    if (const AVDictionaryEntry *e = av_dict_get(fmt->metadata, "major_brand", nullptr, 0))
        brands.append(QString::fromLatin1(e->value));
    if (const AVDictionaryEntry *e = av_dict_get(fmt->metadata, "compatible_brands", nullptr, 0)) {
        const QString all = QString::fromLatin1(e->value);
        for (qsizetype i = 0; i + 4 <= all.size(); i += 4)
            brands.append(all.mid(i, 4));
    }
    brands.removeDuplicates(); // the major brand is usually listed again
    return brands;
}

int FirstStream(const AVFormatContext *fmt, AVMediaType type)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type == type && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

double FrameRate(const AVStream *st)
{
    const AVRational r = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0
                             ? st->avg_frame_rate
                             : st->r_frame_rate;
    return r.num > 0 && r.den > 0 ? av_q2d(r) : 0.0;
}

// What the file holds, read to its end: where each stream's packets lie, how many of the
// packets its index lists could be read, and how the picture and the sound decode.
struct ReadBack {
    std::vector<StreamSpan> spans;
    std::vector<qint64> read;
    int endCode = 0; // of the last read: AVERROR_EOF when the file was read to its end
    std::optional<DecodeTally> picture, sound;
    bool stopped = false;
};

ReadBack ReadAll(AVFormatContext *fmt, int video, int audio, bool meterSound)
{
    ReadBack r;
    r.spans.assign(fmt->nb_streams, StreamSpan());
    r.read.assign(fmt->nb_streams, 0);
    r.picture.emplace(fmt->streams[video]);
    if (audio >= 0)
        r.sound.emplace(fmt->streams[audio], meterSound);
    Packet packet(av_packet_alloc());
    if (!packet)
        return r;
    const int64_t fileSize = fmt->pb ? avio_size(fmt->pb) : -1;
    while ((r.endCode = av_read_frame(fmt, packet.get())) >= 0) {
        if (Stopping()) {
            r.stopped = true;
            return r;
        }
        const unsigned i = unsigned(packet->stream_index);
        if (i < fmt->nb_streams) {
            r.read[i] += r.spans[i].Add(fmt, packet.get(), fileSize);
            if (int(i) == video)
                r.picture->Take(packet.get());
            else if (int(i) == audio)
                r.sound->Take(packet.get());
        }
        av_packet_unref(packet.get());
    }
    r.picture->Finish();
    if (r.sound)
        r.sound->Finish();
    return r;
}

void CheckBrand(const AVFormatContext *fmt, const OutputExpectation &e, QStringList &faults)
{
    if (e.brands.isEmpty())
        return;
    const QStringList found = BrandsOf(fmt);
    for (const QString &b : found) {
        if (e.brands.contains(b))
            return;
    }
    faults.append(QStringLiteral("file type is %1 instead of %2")
                      .arg(found.isEmpty() ? QStringLiteral("unmarked") : found.join(u'/'),
                           e.brands.join(QStringLiteral(" or "))));
}

void CheckPictureFormat(const AVStream *video, const OutputExpectation &e, QStringList &faults)
{
    const AVCodecParameters *par = video->codecpar;
    const QString codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
    if (!e.codecs.isEmpty() && !e.codecs.contains(codec)) {
        faults.append(QStringLiteral("picture is coded as %1 instead of %2")
                          .arg(codec, e.codecs.join(QStringLiteral(" or "))));
    }
    if ((e.width > 0 && par->width != e.width) || (e.height > 0 && par->height != e.height)) {
        faults.append(QStringLiteral("picture is %1x%2 instead of %3x%4")
                          .arg(par->width)
                          .arg(par->height)
                          .arg(e.width)
                          .arg(e.height));
    }
    const double rate = FrameRate(video);
    if (e.maxFrameRate > 0 && rate > e.maxFrameRate * rateTolerance) {
        faults.append(QStringLiteral("picture runs at %1 frames per second, above %2")
                          .arg(Rate(rate), Rate(e.maxFrameRate)));
    }
}

// Where the source's pictures end within the part when decoded, as a length from its begin;
// -1 when that cannot be told.
double DecodedPartLength(const OutputExpectation &e)
{
    if (e.sourcePath.isEmpty())
        return -1.0;
    try {
        MediaInput source(e.sourcePath);
        AVFormatContext *fmt = source.Format();
        const int video = FirstStream(fmt, AVMEDIA_TYPE_VIDEO);
        if (video < 0)
            return -1.0;
        const double end =
            DecodedPictureEnd(fmt, video, e.sourceBeginSeconds + e.durationSeconds, Stopping);
        return end < 0 ? -1.0 : end - e.sourceBeginSeconds;
    } catch (const MediaError &) {
        return -1.0;
    }
}

// The picture lasts the part: never more than one of its pictures longer, and shorter by at
// most one of its pictures and the source's last (tools end the picture where the last
// source picture begins); a source whose tail does not decode ends where its pictures do.
// Answers the picture's length.
double CheckPictureLength(const AVStream *video, const StreamSpan &span, const OutputExpectation &e,
                          QStringList &faults)
{
    const double rate = FrameRate(video);
    const double frame = 1.0 / (rate > 0 ? rate : e.maxFrameRate > 0 ? e.maxFrameRate : 25.0);
    const double length = span.lastStart < 0 ? 0.0 : span.End(frame) - span.start;
    if (e.durationSeconds <= 0)
        return length;
    const double shortBy = frame + std::max(frame, e.lastPictureSeconds) + timeSlack;
    bool fits = length <= e.durationSeconds + frame + timeSlack;
    if (fits && length < e.durationSeconds - shortBy) {
        const double decoded = DecodedPartLength(e);
        fits = decoded >= 0 && length >= decoded - shortBy;
    }
    if (!fits) {
        faults.append(QStringLiteral("picture lasts %1 instead of %2")
                          .arg(Seconds(length), Seconds(e.durationSeconds)));
    }
    return length;
}

void CheckSound(const StreamSpan *span, double pictureSeconds, double sourceSound,
                QStringList &faults)
{
    if (!span) {
        faults.append(QStringLiteral("has no sound although the source has"));
        return;
    }
    const double length = span->lastStart < 0 ? 0.0 : span->End() - span->start;
    // Measured against what the source had to give; sound comes in frames of up to 64 ms, so a
    // clip of a few frames keeps one frame's room.
    const double wanted = sourceSound > 0 ? std::min(pictureSeconds, sourceSound) : pictureSeconds;
    if (pictureSeconds > 0 && !(length >= minSoundShare * wanted - soundFrameSeconds)) {
        faults.append(QStringLiteral("sound lasts %1 of %2 of picture")
                          .arg(Seconds(length), Seconds(pictureSeconds)));
    }
}

void CheckDecoding(const char *what, const DecodeTally &tally, QStringList &faults)
{
    if (tally.damaged > 0)
        faults.append(QStringLiteral("%1 does not decode cleanly: errors in %2 of its %3 packets")
                          .arg(QLatin1String(what))
                          .arg(tally.damaged)
                          .arg(tally.packets));
}

// A file cut short (a full disk while a tool rewrote it) keeps the index of all its samples,
// but the data of the last ones is missing.
void CheckWhole(const AVFormatContext *fmt, const ReadBack &r, QStringList &faults)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const qint64 listed = fmt->streams[i]->nb_frames;
        if (listed > 0 && r.read[i] < listed) {
            faults.append(QStringLiteral("file is cut short: %1 of its %2 samples can be read")
                              .arg(r.read[i])
                              .arg(listed));
            return;
        }
    }
    if (r.endCode != AVERROR_EOF)
        faults.append(QStringLiteral("file cannot be read to its end"));
}

} // namespace

static QString VerifyNow(const QString &path, const OutputExpectation &expected,
                         SoundLevels &levels)
{
    std::unique_ptr<MediaInput> input;
    try {
        input = std::make_unique<MediaInput>(path);
    } catch (const MediaError &) {
        return QStringLiteral("cannot be read back as a video");
    }
    AVFormatContext *fmt = input->Format();
    QStringList faults;
    CheckBrand(fmt, expected, faults);
    const int video = FirstStream(fmt, AVMEDIA_TYPE_VIDEO);
    if (video < 0) {
        faults.append(QStringLiteral("has no picture"));
        return faults.join(QStringLiteral("; "));
    }
    const AVStream *picture = fmt->streams[video];
    CheckPictureFormat(picture, expected, faults);
    const int audio = FirstStream(fmt, AVMEDIA_TYPE_AUDIO);
    const ReadBack r = ReadAll(fmt, video, audio, expected.meterSound);
    if (r.stopped)
        return QStringLiteral("the check was stopped");
    if (r.sound)
        levels = r.sound->Levels();
    CheckWhole(fmt, r, faults);
    CheckDecoding("picture", *r.picture, faults);
    const double pictureSeconds =
        CheckPictureLength(picture, r.spans[size_t(video)], expected, faults);
    if (r.sound)
        CheckDecoding("sound", *r.sound, faults);
    if (expected.expectSound)
        CheckSound(audio < 0 ? nullptr : &r.spans[size_t(audio)], pictureSeconds,
                   expected.soundSeconds, faults);
    return faults.join(QStringLiteral("; "));
}

extern "C" Q_DECL_EXPORT void kestrani_verify_output(const QString &path,
                                                     const OutputExpectation &expected,
                                                     QString &faults, SoundLevels &levels)
{
    faults = VerifyNow(path, expected, levels);
}
