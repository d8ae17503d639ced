// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filestamp.h"
#include "videoframe.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
class FrameScaler;
class MediaInput;

// Pictures of key frames only, for following a slider while it is dragged: a key frame decodes
// alone, from one packet, so any of them is a few milliseconds away, and the last ones shown are
// kept scaled for the screen. The picture equals what MediaDecoder shows at that key frame's
// time (same decoder, same scaling). Not thread-safe.
class KeyFrameReader
{
public:
    static constexpr int cachedPictures = 16;

    // Throws MediaError when the file cannot be opened or holds no decodable video.
    KeyFrameReader(const QString &path, QSize box, int clockwiseDegrees);
    ~KeyFrameReader();
    KeyFrameReader(const KeyFrameReader &) = delete;
    KeyFrameReader &operator=(const KeyFrameReader &) = delete;

    const FileStamp &Stamp() const { return stamp; }
    QSize Box() const { return box; }

    // The picture of the last key frame shown at or before `seconds` (the first key frame for
    // earlier times), with its presentation time. A null frame when none can be decoded.
    VideoFrame KeyFrameAt(double seconds);
    // Key frames decoded since opening; pictures answered from the cache add nothing.
    int Decoded() const { return decodedCount; }

private:
    struct Cached {
        std::int64_t key; // the key packet's decoding time in stream units
        VideoFrame picture;
    };

    bool ReadKeyPacket(double from);
    void ReadOnToLastKey(double seconds);
    const VideoFrame *Find(std::int64_t key);
    VideoFrame Decode();
    VideoFrame DecodeWith(const std::vector<AVPacket *> &following);
    double PacketPts() const;

    FileStamp stamp;
    std::unique_ptr<MediaInput> input;
    AVStream *stream = nullptr;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    std::unique_ptr<FrameScaler> scaler;
    QSize box;
    int videoIndex = -1;
    double startOffset = 0.0;
    bool completeIndex = false;
    std::list<Cached> cache; // most recently shown first
    int decodedCount = 0;
};
