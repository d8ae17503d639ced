// SPDX-License-Identifier: GPL-3.0-or-later
#include "amrtranscoder.h"

#include "atomicfile.h"
#include "audiotoamr.h"
#include "avtext.h"
#include "h263level.h"
#include "toolerror.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

struct InputCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext *c) const
    {
        if (c->pb) {
            av_freep(&c->pb->buffer);
            avio_context_free(&c->pb);
        }
        avformat_free_context(c);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;

int WriteToFile(void *opaque, uint8_t *data, int size)
{
    const int fd = *static_cast<int *>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AVERROR(errno ? errno : EIO);
        done += int(n);
    }
    return size;
}

int ReadFromFile(void *opaque, uint8_t *data, int size)
{
    const ssize_t n = read(*static_cast<int *>(opaque), data, size_t(size));
    if (n < 0)
        return AVERROR(errno);
    return n == 0 ? AVERROR_EOF : int(n);
}

int64_t SeekInFile(void *opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<int *>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = lseek(fd, 0, SEEK_CUR);
        const off_t size = lseek(fd, 0, SEEK_END);
        lseek(fd, here, SEEK_SET);
        return size;
    }
    const off_t at = lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

Input OpenInput(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    CheckAv(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "cannot open " + path);
    Input input(raw);
    CheckAv(avformat_find_stream_info(raw, nullptr), "cannot read " + path);
    return input;
}

int VideoStreamOf(AVFormatContext *input)
{
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0 && (input->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return -1;
    return index;
}

AVStream *AddCopiedVideo(AVFormatContext *output, const AVStream *source)
{
    if (avformat_query_codec(output->oformat, source->codecpar->codec_id, FF_COMPLIANCE_NORMAL) !=
        1)
        throw ToolError("the video format " +
                        std::string(avcodec_get_name(source->codecpar->codec_id)) +
                        " cannot go into a 3GP file");
    AVStream *stream = avformat_new_stream(output, nullptr);
    if (!stream)
        throw ToolError("out of memory");
    CheckAv(avcodec_parameters_copy(stream->codecpar, source->codecpar), "cannot copy video");
    stream->codecpar->codec_tag = 0;
    stream->time_base = source->time_base;
    stream->avg_frame_rate = source->avg_frame_rate;
    stream->sample_aspect_ratio = source->codecpar->sample_aspect_ratio;
    return stream;
}

AVStream *AddAmrAudio(AVFormatContext *output, int mode)
{
    AVStream *stream = avformat_new_stream(output, nullptr);
    if (!stream)
        throw ToolError("out of memory");
    AVCodecParameters *par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_AMR_NB;
    par->sample_rate = AmrNbEncoder::sampleRate;
    par->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    par->frame_size = AmrNbEncoder::frameSamples;
    par->bit_rate = AmrNbEncoder::BitRate(mode);
    stream->time_base = {1, AmrNbEncoder::sampleRate};
    return stream;
}

void AttachFile(AVFormatContext *output, int &fd)
{
    constexpr int bufferSize = 1 << 16;
    auto *buffer = static_cast<unsigned char *>(av_malloc(bufferSize));
    if (buffer)
        output->pb =
            avio_alloc_context(buffer, bufferSize, 1, &fd, ReadFromFile, WriteToFile, SeekInFile);
    if (!output->pb) {
        av_free(buffer);
        throw ToolError("out of memory");
    }
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
}

// A status line now and then while the file is written, which is invisible until it is
// whole: whoever runs the tool sees that it works (a runner that ends tools quiet for too long
// keeps this one), and a person at a terminal sees how far it is.
class Progress
{
public:
    explicit Progress(const AVFormatContext *input)
        : total(input->duration > 0 ? double(input->duration) / AV_TIME_BASE : 0.0)
    {}
    void At(const AVPacket *packet, AVRational timeBase)
    {
        if (packet->pts != AV_NOPTS_VALUE)
            seconds = std::max(seconds, (packet->pts + packet->duration) * av_q2d(timeBase));
        const auto now = Clock::now();
        if (now - shown >= interval)
            Show('\r', now);
    }
    void Done() { Show('\n', Clock::now()); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds interval{500};
    void Show(char end, Clock::time_point now)
    {
        shown = now;
        if (total > 0)
            std::fprintf(stderr, "kestrani-amrenc: %.2f s of %.2f s written%c", seconds, total,
                         end);
        else
            std::fprintf(stderr, "kestrani-amrenc: %.2f s written%c", seconds, end);
        std::fflush(stderr);
    }

    double total;
    double seconds = 0.0;
    Clock::time_point shown = Clock::now();
};

void WritePacket(AVFormatContext *output, AVPacket *packet, AVRational from)
{
    av_packet_rescale_ts(packet, from, output->streams[packet->stream_index]->time_base);
    packet->pos = -1;
    CheckAv(av_interleaved_write_frame(output, packet), "cannot write the output");
}

} // namespace

AmrTranscoder::AmrTranscoder(std::string inputPath, std::string outputPath, int mode,
                             std::optional<int> h263Level)
    : inputPath(std::move(inputPath)), outputPath(std::move(outputPath)), mode(mode),
      h263Level(h263Level)
{}

void AmrTranscoder::Run()
{
    Input input = OpenInput(inputPath);
    const int videoIn = VideoStreamOf(input.get());
    const int audioIn = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIn < 0 && audioIn < 0)
        throw ToolError("no video or audio in " + inputPath);
    if (h263Level &&
        (videoIn < 0 || input->streams[videoIn]->codecpar->codec_id != AV_CODEC_ID_H263))
        throw ToolError("the video of " + inputPath + " is not H.263, so it has no H.263 level");

    AVFormatContext *rawOutput = nullptr;
    CheckAv(avformat_alloc_output_context2(&rawOutput, nullptr, "3gp", nullptr),
            "cannot make a 3GP file");
    Output output(rawOutput);
    const AVStream *videoOut =
        videoIn >= 0 ? AddCopiedVideo(rawOutput, input->streams[videoIn]) : nullptr;
    std::unique_ptr<AudioToAmr> audio;
    const AVStream *audioOut = nullptr;
    if (audioIn >= 0) {
        audio = std::make_unique<AudioToAmr>(input->streams[audioIn], mode);
        audioOut = AddAmrAudio(rawOutput, mode);
    }

    AtomicFile file(outputPath);
    int fd = file.Descriptor();
    AttachFile(rawOutput, fd);
    CheckAv(avformat_write_header(rawOutput, nullptr), "cannot write " + outputPath);

    const AudioToAmr::PacketSink writeAudio = [&](AVPacket *packet) {
        packet->stream_index = audioOut->index;
        WritePacket(rawOutput, packet, packet->time_base);
    };
    AVPacket *packet = av_packet_alloc();
    if (!packet)
        throw ToolError("out of memory");
    std::unique_ptr<AVPacket, void (*)(AVPacket *)> packetOwner(
        packet, [](AVPacket *p) { av_packet_free(&p); });
    int result = 0;
    Progress progress(input.get());
    while ((result = av_read_frame(input.get(), packet)) >= 0) {
        if (packet->stream_index == videoIn || packet->stream_index == audioIn)
            progress.At(packet, input->streams[packet->stream_index]->time_base);
        if (packet->stream_index == videoIn) {
            const AVRational from = input->streams[videoIn]->time_base;
            packet->stream_index = videoOut->index;
            WritePacket(rawOutput, packet, from);
        } else if (packet->stream_index == audioIn) {
            audio->Feed(packet, writeAudio);
        }
        av_packet_unref(packet);
    }
    if (result != AVERROR_EOF)
        throw ToolError("cannot read " + inputPath + ": " + AvErrorText(result));
    if (audio)
        audio->Finish(writeAudio);
    CheckAv(av_write_trailer(rawOutput), "cannot finish " + outputPath);
    avio_flush(rawOutput->pb);
    CheckAv(rawOutput->pb->error, "cannot write " + outputPath);
    if (h263Level)
        h263level::Write(fd, *h263Level);
    file.Commit();
    progress.Done();
}
