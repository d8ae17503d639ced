// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "videoframe.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class AudioRing;
class MediaDecoder;
struct AudioChunk;

// One run of playback: a thread that takes over a positioned decoder and decodes ahead into a
// short queue of screen pictures (and into the sound ring, when there is one), up to an end
// time. The presenting side takes the pictures whose time has come; it never waits for the
// decoder. Stopping is a request: the thread finishes its current step, releases the decoder and
// ends, and the destructor joins it. Until Start the decoder is untouched and can be taken back.
class PlaybackSession
{
public:
    PlaybackSession(std::unique_ptr<MediaDecoder> decoder, double end);
    ~PlaybackSession();
    PlaybackSession(const PlaybackSession &) = delete;
    PlaybackSession &operator=(const PlaybackSession &) = delete;

    // Before Start: the thread first moves the decoder to this time (the picture there is
    // already on screen and is not queued again).
    void SeekFirst(double seconds) { seekFirst = seconds; }
    void Start(std::shared_ptr<AudioRing> sound);
    bool Started() const { return thread.joinable(); }
    // The decoder as it was handed over; null once started.
    std::unique_ptr<MediaDecoder> TakeDecoder();
    void SetPaused(bool paused);
    void SetEnd(double seconds);
    void RequestStop();
    bool ThreadEnded() const { return threadEnded; }

    // The latest picture due at `clock`; earlier due ones are dropped and counted.
    bool TakeDue(double clock, VideoFrame &frame, int &dropped);
    bool NextPts(double &pts) const;
    bool Exhausted() const; // the decoder reached the end time and every picture was taken

private:
    void Run();
    bool HasRoom() const;
    void PushVideo(VideoFrame &&frame);
    void PushSound(const AudioChunk &chunk);
    bool Stopping() const;

    std::unique_ptr<MediaDecoder> decoder;
    std::shared_ptr<AudioRing> sound;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<VideoFrame> queue;
    double end;
    double seekFirst = -1.0;
    bool paused = false;
    bool stop = false;
    bool producerDone = false;
    std::atomic<bool> threadEnded{false};
    std::thread thread;
};
