#pragma once

#include "audiochunk.h"
#include "audioformatspec.h"
#include "videoframe.h"

#include <QSize>
#include <QString>

#include <deque>
#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
class AudioResampler;
class FrameScaler;
class MediaInput;

// Decodes one file: exact seeking, then pictures (scaled and rotated for the screen) and sound
// (in the requested output format) in presentation order. Positions are seconds from the start
// of the clip, the same origin ClipLength measures from. Not thread-safe: one thread at a time
// (it may change hands between calls).
class MediaDecoder
{
public:
    enum class Item { Video, Audio, End };

    // No sound is decoded when `sound` is not valid. Throws MediaError when the file cannot be
    // opened or holds no picture that can be decoded.
    MediaDecoder(const QString &path, QSize box, const AudioFormatSpec &sound = {});
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder &) = delete;
    MediaDecoder &operator=(const MediaDecoder &) = delete;

    const QString &Path() const;
    double Duration() const;
    int Rotation() const { return rotation; } // clockwise degrees: 0, 90, 180 or 270
    bool HasAudio() const { return audioIndex >= 0; }

    // Puts the frame whose presentation interval contains `seconds` on top and returns it
    // (the first frame for a time before it, the last for a time after the end). Sound then
    // continues from that time. Throws MediaError when no picture can be decoded.
    VideoFrame SeekExact(double seconds);

    // The next picture or piece of sound in presentation order, or End.
    Item Next(VideoFrame &video, AudioChunk &audio);

private:
    void OpenVideo();
    void OpenAudio(const AudioFormatSpec &sound);
    void ReadRotation();
    void SeekDemuxer(double seconds);
    void FlushAll();
    VideoFrame DecodeFrom(double from, double seconds);
    AVFrame *DecodeVideo(bool keepSound);
    bool ReceiveVideo();
    bool ReceiveAudio(AudioChunk &audio);
    bool FeedPacket(bool keepSound);
    void EndOfInput();
    bool Skippable(const AVPacket *p) const;
    double VideoPts(const AVFrame *frame);
    VideoFrame Picture(const AVFrame *frame);

    std::unique_ptr<MediaInput> input;
    AVStream *videoStream = nullptr;
    AVCodecContext *video = nullptr;
    AVCodecContext *audio = nullptr;
    int videoIndex = -1;
    int audioIndex = -1;
    int rotation = 0;
    QSize box;
    std::unique_ptr<FrameScaler> scaler;
    std::unique_ptr<AudioResampler> resampler;
    AudioFormatSpec sound;
    AVPacket *packet = nullptr;
    AVFrame *decoded = nullptr; // the video frame most recently received
    AVFrame *ahead = nullptr;   // a frame received past a seek target, returned next
    AVFrame *soundFrame = nullptr;
    std::deque<AVPacket *> soundBacklog; // sound read while seeking, decoded afterwards
    double startOffset = 0.0;
    double frameDuration = 0.04;
    double lastVideoPts = -1.0;
    double soundFloor = 0.0; // sound before this time is dropped (the seek target)
    double nextSoundPts = 0.0;
    double skipBefore = -1.0; // while seeking: the target
    bool demuxEnded = false;
    bool videoEnded = false;
    bool audioEnded = false;
    bool untouched = true; // nothing read since opening: a seek to 0 needs no demuxer seek
};
