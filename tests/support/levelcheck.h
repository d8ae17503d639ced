// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether the video of a file keeps to the level it declares: the picture size and rate in
// macroblocks, and the stream's real bits put through a leaky bucket that drains at the level's
// highest rate into a bucket of the level's buffer size. The level comes from where phones read
// it: H.264 and MPEG-4 from their headers, H.263 from the 3GP sample description's 'd263' box.
// Header-only test support, shared by the conformance test and the profile measurements.
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace levelcheck {

struct Limits {
    double bitsPerSecond = 0;
    double bufferBits = 0;
    double macroblocksPerSecond = 0;
    int frameMacroblocks = 0;
};

struct Result {
    QString codec; // "h263", "mpeg4", "h264"
    QString level; // as the stream declares it: "45", "0b", "1.2"
    Limits limits; // the declared level's
    double averageBitsPerSecond = 0;
    double peakBufferBits = 0; // the fullest the bucket got
    double macroblocksPerSecond = 0;
    int frameMacroblocks = 0;
    QString fault; // empty when the stream keeps to its level

    bool Fits() const { return fault.isEmpty(); }
    // "H.264 1.2: 211 of 384 kbit/s, bucket 4 %", or the fault.
    QString Text() const
    {
        if (!Fits())
            return fault;
        return QStringLiteral("%1 %2: %3 of %4 kbit/s, bucket %5 %")
            .arg(codec, level)
            .arg(averageBitsPerSecond / 1000, 0, 'f', 0)
            .arg(limits.bitsPerSecond / 1000, 0, 'f', 0)
            .arg(100 * peakBufferBits / limits.bufferBits, 0, 'f', 0);
    }
};

// ITU-T H.263 Annex X: the rate, and a buffer of 4 picture-clock periods at that rate plus the
// largest picture a decoder must take (BPPmaxKb: 64 kbit at QCIF, 256 at CIF).
inline bool H263Limits(int level, Limits &limits)
{
    struct Row {
        int level, kbps, frameMbs;
        double framesPerSecond;
    };
    static const Row rows[] = {{10, 64, 99, 15000.0 / 1001},
                               {45, 128, 99, 15000.0 / 1001},
                               {20, 128, 396, 15000.0 / 1001},
                               {30, 384, 396, 30000.0 / 1001},
                               {40, 2048, 396, 30000.0 / 1001}};
    for (const Row &r : rows) {
        if (r.level != level)
            continue;
        limits.bitsPerSecond = r.kbps * 1000.0;
        limits.bufferBits =
            4 * limits.bitsPerSecond * 1001 / 30000 + (r.frameMbs > 99 ? 256 : 64) * 1024.0;
        limits.frameMacroblocks = r.frameMbs;
        limits.macroblocksPerSecond = r.frameMbs * r.framesPerSecond;
        return true;
    }
    return false;
}

// ISO/IEC 14496-2 Simple profile (profile_and_level_indication 8 is L0, 9 is L0b). L0b's
// buffer is taken as L0's 10 x 16384 bits, the smaller reading.
inline bool Mpeg4Limits(int level, Limits &limits, QString &name)
{
    struct Row {
        int level;
        const char *name;
        int kbps, vbv16k, mbps, frameMbs;
    };
    static const Row rows[] = {{8, "0", 64, 10, 1485, 99},      {9, "0b", 128, 10, 1485, 99},
                               {1, "1", 64, 10, 1485, 99},      {2, "2", 128, 40, 5940, 396},
                               {3, "3", 384, 40, 11880, 396},   {4, "4a", 4000, 80, 36000, 1200},
                               {5, "5", 8000, 112, 40500, 1620}};
    for (const Row &r : rows) {
        if (r.level != level)
            continue;
        name = QString::fromLatin1(r.name);
        limits = {r.kbps * 1000.0, r.vbv16k * 16384.0, double(r.mbps), r.frameMbs};
        return true;
    }
    return false;
}

// ITU-T H.264 Table A-1 (VCL rates: 1000 bits per unit).
inline bool H264Limits(int levelIdc, Limits &limits)
{
    struct Row {
        int idc, mbps, frameMbs, kbps, cpbKbits;
    };
    static const Row rows[] = {{9, 1485, 99, 128, 350},          {10, 1485, 99, 64, 175},
                               {11, 3000, 396, 192, 500},        {12, 6000, 396, 384, 1000},
                               {13, 11880, 396, 768, 2000},      {20, 11880, 396, 2000, 2000},
                               {21, 19800, 792, 4000, 4000},     {22, 20250, 1620, 4000, 4000},
                               {30, 40500, 1620, 10000, 10000},  {31, 108000, 3600, 14000, 14000},
                               {32, 216000, 5120, 20000, 20000}, {40, 245760, 8192, 20000, 25000}};
    for (const Row &r : rows) {
        if (r.idc != levelIdc)
            continue;
        limits = {r.kbps * 1000.0, r.cpbKbits * 1000.0, double(r.mbps), r.frameMbs};
        return true;
    }
    return false;
}

// The level byte of the first 'd263' box: vendor (4 bytes) and decoder version (1) come first.
inline int D263Level(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("d263");
    return at >= 0 && at + 9 < bytes.size() ? quint8(bytes.at(at + 9)) : -1;
}

inline Result Check(const QString &path)
{
    Result result;
    AVFormatContext *format = nullptr;
    const QByteArray name = "file:" + QFile::encodeName(path);
    if (avformat_open_input(&format, name.constData(), nullptr, nullptr) < 0) {
        result.fault = QStringLiteral("cannot open ") + path;
        return result;
    }
    struct Closer {
        AVFormatContext *&c;
        ~Closer() { avformat_close_input(&c); }
    } closer{format};
    const int index = avformat_find_stream_info(format, nullptr) < 0
                          ? -1
                          : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        result.fault = QStringLiteral("no video in ") + path;
        return result;
    }
    const AVStream *stream = format->streams[index];
    const AVCodecParameters *par = stream->codecpar;
    result.codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
    bool known = false;
    if (par->codec_id == AV_CODEC_ID_H263) {
        const int level = D263Level(path);
        result.level = QString::number(level);
        known = H263Limits(level, result.limits);
    } else if (par->codec_id == AV_CODEC_ID_MPEG4) {
        result.level = QString::number(par->level);
        known = par->profile == FF_PROFILE_MPEG4_SIMPLE &&
                Mpeg4Limits(par->level, result.limits, result.level);
    } else if (par->codec_id == AV_CODEC_ID_H264) {
        result.level = QStringLiteral("%1.%2").arg(par->level / 10).arg(par->level % 10);
        known = H264Limits(par->level, result.limits);
    }
    if (!known) {
        result.fault = QStringLiteral("%1 declares level %2, which this check does not know")
                           .arg(result.codec, result.level);
        return result;
    }

    // Every packet's bits enter the bucket at its decoding time; the bucket drains at the
    // level's rate and must never hold more than the level's buffer.
    AVPacket *packet = av_packet_alloc();
    double previous = NAN, first = NAN, last = NAN, fullness = 0, totalBits = 0;
    int packets = 0;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            const int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            const double t = ts * av_q2d(stream->time_base);
            if (!std::isnan(previous))
                fullness = std::max(0.0, fullness - result.limits.bitsPerSecond * (t - previous));
            fullness += packet->size * 8.0;
            totalBits += packet->size * 8.0;
            result.peakBufferBits = std::max(result.peakBufferBits, fullness);
            previous = t;
            if (std::isnan(first))
                first = t;
            last = t;
            ++packets;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);

    result.frameMacroblocks = ((par->width + 15) / 16) * ((par->height + 15) / 16);
    const double span = packets > 1 ? (last - first) * packets / (packets - 1) : 0;
    if (span > 0) {
        result.averageBitsPerSecond = totalBits / span;
        result.macroblocksPerSecond = result.frameMacroblocks * packets / span;
    }
    QStringList faults;
    if (result.frameMacroblocks > result.limits.frameMacroblocks)
        faults << QStringLiteral("%1 macroblocks a picture, at most %2")
                      .arg(result.frameMacroblocks)
                      .arg(result.limits.frameMacroblocks);
    if (result.macroblocksPerSecond > result.limits.macroblocksPerSecond * 1.0001)
        faults << QStringLiteral("%1 macroblocks a second, at most %2")
                      .arg(result.macroblocksPerSecond, 0, 'f', 1)
                      .arg(result.limits.macroblocksPerSecond, 0, 'f', 1);
    if (result.peakBufferBits > result.limits.bufferBits)
        faults << QStringLiteral("at %1 kbit/s the bucket fills to %2 bits, at most %3 (average "
                                 "%4 kbit/s)")
                      .arg(result.limits.bitsPerSecond / 1000, 0, 'f', 0)
                      .arg(result.peakBufferBits, 0, 'f', 0)
                      .arg(result.limits.bufferBits, 0, 'f', 0)
                      .arg(result.averageBitsPerSecond / 1000, 0, 'f', 1);
    if (!faults.isEmpty())
        result.fault = QStringLiteral("%1 level %2: ").arg(result.codec, result.level) +
                       faults.join(QStringLiteral("; "));
    return result;
}

} // namespace levelcheck
