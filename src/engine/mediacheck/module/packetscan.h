// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the packets of a file say about where its streams really end, read without trusting
// the lengths its header promises, and where its pictures end when they are decoded.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <functional>
#include <memory>
#include <vector>

struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct CodecDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Decoder = std::unique_ptr<AVCodecContext, CodecDeleter>;

// How long a picture of the stream shows by its declared rate; 0 when it declares none.
double NominalInterval(const AVStream *st);

// A decoder for the stream's codec, opened; null when there is none.
Decoder OpenDecoder(const AVCodecParameters *par);

// One stream as its packets show it. Times are seconds from the container's start, as trim
// times count; packets come in decoding order, so "latest" means the latest to be shown.
struct StreamSpan {
    int packets = 0;     // packets read
    int whole = 0;       // of those, neither marked damaged nor reaching past the file's end
    double start = -1.0; // where the earliest packet begins; -1 while no packet had a time
    double lastStart = -1.0;
    double lastDuration = 0.0; // the latest packet's own showing time; 0 when it has none
    double previousStart = -1.0;

    void Add(double at, double duration, bool isWhole);
    // Adds a packet read from `fmt`, whose file has `fileSize` bytes; answers whether it is
    // whole.
    bool Add(const AVFormatContext *fmt, const AVPacket *packet, int64_t fileSize);
    // How long the latest packet shows: its own duration, else the step from the one shown
    // before it, else `fallback`.
    double LastInterval(double fallback = 0.0) const;
    // Where the latest packet ends; -1 when no packet had a time.
    double End(double fallback = 0.0) const;
};

// Seconds from the container's start of a packet's presentation time (of its decoding time
// when it has none); NAN when it has neither.
double PacketSeconds(const AVFormatContext *fmt, const AVPacket *packet);

// Reads every stream's packets from a key frame at or before `fromSeconds` to the end of the
// file, showing each to `onPacket` when one is given. False when the file cannot be positioned
// there: the spans are then empty.
bool ScanFrom(AVFormatContext *fmt, double fromSeconds, std::vector<StreamSpan> &spans,
              const std::function<void(const AVPacket *)> &onPacket = {});

// The end of the last picture of stream `index` that decodes and begins before `partEnd`,
// looking back from there as far as it takes; -1 when none decodes. `stop` is asked between
// packets: true gives up with -1.
double DecodedPictureEnd(AVFormatContext *fmt, int index, double partEnd,
                         const std::function<bool()> &stop);
