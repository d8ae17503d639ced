// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "decodercache.h"
#include "filestamp.h"
#include "videoeditcore.h"
#include "videoframe.h"

#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class AudioOutput;
class AudioRing;
class KeyFrameReader;
class MediaDecoder;
class PlaybackSession;

// Shows one frame of a clip or plays a range of it, for CVideoEdit, which draws the picture.
// Every operation runs on the UI thread; decoding during playback runs on a worker thread, and
// only opening a clip or moving it to a new start decodes on the caller's thread (the one frame
// shown there). Failures throw CVideoEditException; nothing is left half-open after one.
// Closing a clip keeps its decoder for a while: opening the same unchanged file again reuses it,
// so showing a clip at one time after another costs only the decoding between them.
// While a slider is dragged, ShowKeyFrameNear follows it with key-frame pictures, which cost one
// packet each and are kept for a while. The last two exact pictures (one per trim point, as a
// rule) are kept too: showing either time again puts its picture up without decoding. When a
// drag rests, the exact picture there is decoded on a worker thread.
// The sound output is made when playback first starts.
class VideoEditEngine : public VideoEditCore
{
public:
    enum State { Empty, Holding, Playing, Paused }; // CVideoEdit::State's values

    VideoEditEngine(Listener *listener, QSize box);
    ~VideoEditEngine() override;

    double GetClipLength(const QString &path) override;
    bool HoldsVideo(const QString &path) override;
    bool OpenClip(const QString &path, double start, double end, short flag) override;
    bool SetClipRange(const QString &path, double start, double end) override;
    bool Play() override;
    void Pause() override;
    void Stop() override;
    void CloseClip() override;
    bool ShowKeyFrameNear(double seconds) override;

    int State() const override { return state; }
    bool IsOpen() const override { return !path.isEmpty(); }
    QImage CurrentFrame() const override { return frame; }
    double CurrentPosition() const override { return framePts; }
    double CurrentDuration() const override { return frameDuration; }
    int FramesShown() const override { return framesShown; }
    int FramesDropped() const override { return framesDropped; }
    int DecodersOpened() const override { return decoders.DecodersOpened(); }
    int StillsDecoded() const override { return stillsDecoded; }

private:
    void OnTick();
    std::unique_ptr<MediaDecoder> OpenDecoder(const QString &file);
    void ShowStart();
    void StartPrefetch();
    void ShowPrefetched();
    void FinishPrefetch();
    bool ShowKept(double seconds);
    void KeepExact();
    void Show(const VideoFrame &picture);
    void StartSession();
    void BeginSession();
    void FinishPlayback();
    void Halt();
    void RetireSession();
    void ReapSessions();
    double Clock();
    void SetState(int next);

    Listener *listener;
    QSize box;
    QString path;
    double rangeStart = 0.0;
    double rangeEnd = 0.0;
    std::unique_ptr<MediaDecoder> decoder; // positioned on the shown frame, until Play
    bool startShown = false;               // the frame on screen is the one at rangeStart
    bool positioned = false;               // ... and the decoder stands on it
    int rotation = 0;                      // of the open clip's picture
    std::unique_ptr<KeyFrameReader> keyFrames;
    struct ExactPicture {
        FileStamp stamp;
        QImage image;
        double pts = 0.0;
        double duration = 0.0;
    };
    ExactPicture exact[2];
    int stillsDecoded = 0;
    double dragAt = -1.0; // the last time ShowKeyFrameNear was asked for
    struct Prefetch {
        std::unique_ptr<MediaDecoder> decoder; // the worker's while it runs
        double at = 0.0;
        VideoFrame picture;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    std::unique_ptr<Prefetch> prefetch;
    QTimer settle;
    QTimer prefetchPoll;
    std::unique_ptr<PlaybackSession> session;
    std::shared_ptr<AudioRing> sessionSound; // handed to the session when its thread starts
    std::vector<std::unique_ptr<PlaybackSession>> retired;
    std::unique_ptr<AudioOutput> sound;
    DecoderCache decoders;
    int state = Empty;
    QImage frame;
    double framePts = 0.0;
    double frameDuration = 0.0;
    int framesShown = 0;
    int framesDropped = 0;
    QTimer tick;
    QElapsedTimer wall;
    double clockBase = 0.0;
    double lastSoundPosition = -1.0;
};
