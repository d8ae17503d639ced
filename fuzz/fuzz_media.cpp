// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged media files: measuring the clip length and decoding the first pictures and sound
// either work or end in a MediaError, never in a crash, a hang or a picture of the wrong size.
#include "audiochunk.h"
#include "fuzzcheck.h"
#include "mediadecoder.h"
#include "mediaerror.h"
#include "mediaprobe.h"

#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <cstdint>

namespace {

// Some demuxers are chosen by the name's extension (raw streams have no header to probe).
constexpr std::array<const char *, 10> extensions{".mp4", ".mov", ".3gp", ".avi", ".mpg",
                                                  ".vob", ".mts", ".asf", ".wmv", ".m4v"};

void CheckPicture(const VideoFrame &frame)
{
    FUZZ_CHECK(!frame.IsNull());
    FUZZ_CHECK(frame.width <= 64 && frame.height <= 48);
    FUZZ_CHECK(frame.pixels.size() == qsizetype(frame.width) * frame.height * 4);
    FUZZ_CHECK(std::isfinite(frame.pts));
}

void Decode(const QString &path)
{
    MediaDecoder decoder(path, QSize(64, 48), AudioFormatSpec{8000, 1, false});
    FUZZ_CHECK(std::isfinite(decoder.Duration()) && decoder.Duration() >= 0.0);
    CheckPicture(decoder.SeekExact(0.0));
    VideoFrame video;
    AudioChunk audio;
    for (int step = 0; step < 12; ++step) {
        const MediaDecoder::Item item = decoder.Next(video, audio);
        if (item == MediaDecoder::Item::End)
            break;
        if (item == MediaDecoder::Item::Video)
            CheckPicture(video);
        else
            FUZZ_CHECK(audio.samples.size() % 2 == 0);
    }
    CheckPicture(decoder.SeekExact(0.5));
}

} // namespace

// Input: one byte choosing the file name's extension, then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("input") +
                                      QLatin1String(extensions[data[0] % extensions.size()]));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }
    try {
        const double length = MediaProbe::MeasureClipLength(path);
        FUZZ_CHECK(std::isfinite(length) && length >= 0.0);
    } catch (const MediaError &e) {
        FUZZ_CHECK(!e.Message().isEmpty());
    }
    try {
        Decode(path);
    } catch (const MediaError &e) {
        FUZZ_CHECK(!e.Message().isEmpty());
    }
    QFile::remove(path);
    return 0;
}
