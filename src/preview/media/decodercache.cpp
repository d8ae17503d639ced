// SPDX-License-Identifier: GPL-3.0-or-later
#include "decodercache.h"

#include "filestamp.h"
#include "mediadecoder.h"

DecoderCache::DecoderCache(int idleMs)
{
    idle.setSingleShot(true);
    idle.setInterval(idleMs);
    // A kept decoder holds the file open and frames of it in memory (tens of megabytes for
    // high-definition video): worth it only while the user is moving through that file.
    QObject::connect(&idle, &QTimer::timeout, [this] { kept.reset(); });
}

DecoderCache::~DecoderCache() = default;

std::unique_ptr<MediaDecoder> DecoderCache::Open(const QString &path, QSize box,
                                                 const AudioFormatSpec &sound)
{
    idle.stop();
    if (kept && Fits(path, box, sound))
        return std::move(kept);
    kept.reset();
    auto decoder = std::make_unique<MediaDecoder>(path, box, sound);
    ++opened;
    return decoder;
}

bool DecoderCache::Fits(const QString &path, QSize box, const AudioFormatSpec &sound) const
{
    const AudioFormatSpec &had = kept->SoundFormat();
    return kept->Box() == box && had.sampleRate == sound.sampleRate &&
           had.channels == sound.channels && had.floatSamples == sound.floatSamples &&
           kept->Stamp() == FileStamp::Of(path);
}

void DecoderCache::Keep(std::unique_ptr<MediaDecoder> decoder)
{
    if (!decoder)
        return;
    kept = std::move(decoder);
    idle.start();
}

void DecoderCache::Clear()
{
    idle.stop();
    kept.reset();
}
