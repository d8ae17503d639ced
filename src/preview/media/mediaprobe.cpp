// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediaprobe.h"

#include "mediaerror.h"
#include "mediainput.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cmath>

namespace {

struct Measurement {
    double length = 0.0;
    bool video = false;
};

struct CacheEntry {
    qint64 size = -1;
    qint64 mtimeMs = 0;
    Measurement measured;
};

QMutex cacheMutex;
QHash<QString, CacheEntry> cache;

double StreamLength(const AVFormatContext *fmt)
{
    double best = 0.0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            best = std::max(best, st->duration * av_q2d(st->time_base));
    }
    return best;
}

// Libavformat already estimates a duration from the bit rate when nothing better exists, so a
// raw elementary stream arrives here with fmt->duration set; the bit-rate fallback below covers
// demuxers that leave it unset.
double FormatLength(const AVFormatContext *fmt, qint64 fileSize)
{
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return fmt->duration / double(AV_TIME_BASE);
    const double streams = StreamLength(fmt);
    if (streams > 0.0)
        return streams;
    if (fmt->bit_rate > 0 && fileSize > 0)
        return fileSize * 8.0 / double(fmt->bit_rate);
    return 0.0;
}

bool HasVideoStream(const AVFormatContext *fmt)
{
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            st->codecpar->codec_id != AV_CODEC_ID_NONE &&
            st->codecpar->codec_id != AV_CODEC_ID_ANSI &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return true;
    }
    return false;
}

Measurement Measure(const QString &path)
{
    MediaInput input(path);
    const double length = FormatLength(input.Format(), QFileInfo(path).size());
    return {std::isfinite(length) && length > 0.0 ? length : 0.0, HasVideoStream(input.Format())};
}

Measurement Cached(const QString &path)
{
    const QFileInfo info(path);
    const QString key = info.absoluteFilePath();
    const qint64 size = info.size();
    const qint64 mtime = info.lastModified().toMSecsSinceEpoch();
    {
        QMutexLocker lock(&cacheMutex);
        const auto it = cache.constFind(key);
        if (it != cache.constEnd() && it->size == size && it->mtimeMs == mtime && info.isFile())
            return it->measured;
    }
    // Measured outside the lock: probing takes milliseconds and other threads may want other
    // files meanwhile. Two threads probing the same file store the same value.
    const Measurement measured = Measure(path);
    QMutexLocker lock(&cacheMutex);
    cache.insert(key, CacheEntry{size, mtime, measured});
    return measured;
}

} // namespace

double MediaProbe::MeasureClipLength(const QString &path)
{
    return Measure(path).length;
}

double MediaProbe::ClipLength(const QString &path)
{
    return Cached(path).length;
}

bool MediaProbe::HoldsVideo(const QString &path)
{
    return Cached(path).video;
}

void MediaProbe::ClearCache()
{
    QMutexLocker lock(&cacheMutex);
    cache.clear();
}
