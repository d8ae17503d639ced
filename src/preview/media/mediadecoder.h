// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiochunk.h"
#include "audioformatspec.h"
#include "filestamp.h"
#include "videoframe.h"

#include <QSize>
#include <QString>

#include <deque>
#include <memory>
#include <optional>

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
// (it may change hands between calls). A decoder stays useful after a seek or after playing:
// the next seek decodes on from where it stands when that is cheaper than seeking back.
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
    // The file as it was just before it was opened: a kept decoder is reused only while the
    // file on disk still has this stamp.
    const FileStamp &Stamp() const { return stamp; }
    QSize Box() const { return box; }
    const AudioFormatSpec &SoundFormat() const { return sound; }
    double Duration() const;
    int Rotation() const { return rotation; } // clockwise degrees: 0, 90, 180 or 270
    bool HasAudio() const { return audioIndex >= 0; }

    // Puts the frame whose presentation interval contains `seconds` on top and returns it
    // (the first frame for a time before it, the last for a time after the end). Sound then
    // continues from that time. Throws MediaError when no picture can be decoded.
    // The frame returned by the last seek is returned again without decoding; a later time up to
    // the next key frame is reached by decoding on instead of seeking back.
    VideoFrame SeekExact(double seconds);
    // How the last SeekExact found its frame (benchmarks and tests watch this).
    enum class Route { Held, Forward, Seek };
    Route LastRoute() const { return lastRoute; }

    // The next picture or piece of sound in presentation order, or End.
    Item Next(VideoFrame &video, AudioChunk &audio);

private:
    void OpenVideo();
    void OpenAudio(const AudioFormatSpec &sound);
    void ReadRotation();
    void SeekDemuxer(double seconds);
    void FlushAll();
    bool HoldsFrameAt(double seconds);
    bool WorthDecodingOn(double seconds) const;
    double KeyFrameBefore(double seconds) const;
    void AimSound(double seconds);
    VideoFrame DecodeFrom(double from, double seconds);
    std::optional<VideoFrame> Advance(double seconds);
    VideoFrame Hold(VideoFrame shown, Route route);
    AVFrame *NextVideoFrame();
    AVFrame *DecodeVideo(bool keepSound);
    bool ReceiveVideo();
    bool ReceiveAudio(AudioChunk &audio);
    bool FeedPacket(bool keepSound);
    void EndOfInput();
    bool Skippable(const AVPacket *p) const;
    double VideoPts(const AVFrame *frame);
    VideoFrame Picture(const AVFrame *frame);

    FileStamp stamp;
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
    double aheadPts = 0.0;
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
    VideoFrame held;       // what the last seek returned, while nothing was read after it
    bool holding = false;
    Route lastRoute = Route::Seek;
};
