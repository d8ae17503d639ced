// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediacheck/outputcheck.h"

#include "mediaerror.h"
#include "mediainput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <memory>
#include <vector>

namespace {

// Measured rates carry rounding (a mean over a short clip); a cap of 15000/1001 still takes 15.
constexpr double rateTolerance = 1.005;
// Sound that stops earlier than this share of the picture is a broken result, not rounding.
constexpr double minSoundShare = 0.9;
constexpr double soundFrameSeconds = 0.064;
constexpr double shortShare = 0.02;

QString Seconds(double s)
{
    return QString::number(s, 'f', 2) + QStringLiteral(" s");
}

QString Rate(double fps)
{
    return QString::number(fps, 'g', 5);
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

const AVStream *FirstStream(const AVFormatContext *fmt, AVMediaType type)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type == type && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return st;
    }
    return nullptr;
}

double StreamSeconds(const AVStream *st, const AVFormatContext *fmt)
{
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return st->duration * av_q2d(st->time_base);
    return fmt->duration != AV_NOPTS_VALUE ? fmt->duration / double(AV_TIME_BASE) : 0.0;
}

double FrameRate(const AVStream *st)
{
    const AVRational r = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0
                             ? st->avg_frame_rate
                             : st->r_frame_rate;
    return r.num > 0 && r.den > 0 ? av_q2d(r) : 0.0;
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

// Checks the picture and answers its length, 0 when unknown.
double CheckPicture(const AVFormatContext *fmt, const AVStream *video, const OutputExpectation &e,
                    QStringList &faults)
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
    const double length = StreamSeconds(video, fmt);
    if (e.durationSeconds > 0) {
        const double frame = 1.0 / (rate > 0 ? rate : e.maxFrameRate > 0 ? e.maxFrameRate : 25.0);
        // Never longer than the part by more than a frame. Shorter by up to two frames or 2 %:
        // a source's declared length counts its last picture's whole showing time, and pictures
        // of variable-rate sources come at irregular times, so the last may end a little early.
        const double shortBy = std::max(2 * frame, shortShare * e.durationSeconds);
        if (!(length <= e.durationSeconds + frame + 0.001 &&
              length >= e.durationSeconds - shortBy - 0.001)) {
            faults.append(QStringLiteral("picture lasts %1 instead of %2")
                              .arg(Seconds(length), Seconds(e.durationSeconds)));
        }
    }
    return length;
}

void CheckSound(const AVFormatContext *fmt, double pictureSeconds, double sourceSound,
                QStringList &faults)
{
    const AVStream *audio = FirstStream(fmt, AVMEDIA_TYPE_AUDIO);
    if (!audio) {
        faults.append(QStringLiteral("has no sound although the source has"));
        return;
    }
    const double length = StreamSeconds(audio, fmt);
    // Measured against what the source had to give; sound comes in frames of up to 64 ms, so a
    // clip of a few frames keeps one frame's room.
    const double wanted = sourceSound > 0 ? std::min(pictureSeconds, sourceSound) : pictureSeconds;
    if (pictureSeconds > 0 && !(length >= minSoundShare * wanted - soundFrameSeconds)) {
        faults.append(QStringLiteral("sound lasts %1 of %2 of picture")
                          .arg(Seconds(length), Seconds(pictureSeconds)));
    }
}

// Reads every packet (no decoding): a file cut short (a full disk while a tool rewrote it) keeps
// the index of all its samples, but the data of the last ones is missing.
void CheckWhole(AVFormatContext *fmt, QStringList &faults)
{
    std::vector<qint64> read(fmt->nb_streams, 0);
    AVPacket *packet = av_packet_alloc();
    if (!packet)
        return;
    int error = 0;
    while ((error = av_read_frame(fmt, packet)) >= 0) {
        if (packet->stream_index >= 0 && unsigned(packet->stream_index) < fmt->nb_streams &&
            !(packet->flags & AV_PKT_FLAG_CORRUPT))
            ++read[size_t(packet->stream_index)];
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const qint64 listed = fmt->streams[i]->nb_frames;
        if (listed > 0 && read[i] < listed) {
            faults.append(QStringLiteral("file is cut short: %1 of its %2 samples can be read")
                              .arg(read[i])
                              .arg(listed));
            return;
        }
    }
    if (error != AVERROR_EOF)
        faults.append(QStringLiteral("file cannot be read to its end"));
}

} // namespace

static QString VerifyNow(const QString &path, const OutputExpectation &expected)
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
    const AVStream *video = FirstStream(fmt, AVMEDIA_TYPE_VIDEO);
    if (!video) {
        faults.append(QStringLiteral("has no picture"));
        return faults.join(QStringLiteral("; "));
    }
    const double pictureSeconds = CheckPicture(fmt, video, expected, faults);
    if (expected.expectSound)
        CheckSound(fmt, pictureSeconds, expected.soundSeconds, faults);
    CheckWhole(fmt, faults);
    return faults.join(QStringLiteral("; "));
}

extern "C" Q_DECL_EXPORT void
kestrani_verify_output(const QString &path, const OutputExpectation &expected, QString &faults)
{
    faults = VerifyNow(path, expected);
}
