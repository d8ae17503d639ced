// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audioformatspec.h"

#include <QSize>
#include <QString>
#include <QTimer>

#include <memory>

class MediaDecoder;

// Keeps the decoder of the last clip after it was put down, so that showing the same file again
// costs no probing and no decoder set-up, and the decoder can often go on from where it stands.
// One entry: it goes when another file (or the same path with other contents) is opened, when
// it has not been asked for within the idle time, on Clear and on destruction. The idle timer
// needs an event loop on the owning thread. Not thread-safe.
class DecoderCache
{
public:
    explicit DecoderCache(int idleMs = 10000);
    ~DecoderCache();
    DecoderCache(const DecoderCache &) = delete;
    DecoderCache &operator=(const DecoderCache &) = delete;

    // The kept decoder when it reads this file unchanged (same path, size and modification time)
    // for the same box and sound format; otherwise a new one, opened after the kept one was
    // released. Throws MediaError as MediaDecoder does.
    std::unique_ptr<MediaDecoder> Open(const QString &path, QSize box,
                                       const AudioFormatSpec &sound);
    void Keep(std::unique_ptr<MediaDecoder> decoder);
    void Clear();

    bool IsHolding() const { return kept != nullptr; }
    int DecodersOpened() const { return opened; } // new decoders made by Open

private:
    bool Fits(const QString &path, QSize box, const AudioFormatSpec &sound) const;

    std::unique_ptr<MediaDecoder> kept;
    QTimer idle;
    int opened = 0;
};
