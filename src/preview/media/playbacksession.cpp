// SPDX-License-Identifier: GPL-3.0-or-later
#include "playbacksession.h"

#include "audiochunk.h"
#include "audioring.h"
#include "mediadecoder.h"
#include "mediaerror.h"

#include <chrono>

namespace {

// A few pictures ahead smooth out uneven decoding times; more are allowed only while the sound
// runs low, so that a long gap between sound packets cannot stall the sound clock behind a full
// picture queue. Past the hard limit the oldest picture goes: it would be dropped as late anyway.
constexpr size_t softQueueLimit = 8;
constexpr size_t hardQueueLimit = 48;
constexpr double soundLowSeconds = 0.25;
constexpr double endSlack = 1e-6;

} // namespace

PlaybackSession::PlaybackSession(std::unique_ptr<MediaDecoder> decoder, double end)
    : decoder(std::move(decoder)), end(end)
{}

PlaybackSession::~PlaybackSession()
{
    RequestStop();
    if (thread.joinable())
        thread.join();
}

void PlaybackSession::Start(std::shared_ptr<AudioRing> ring)
{
    if (thread.joinable() || !decoder)
        return;
    sound = std::move(ring);
    thread = std::thread([this] { Run(); });
}

std::unique_ptr<MediaDecoder> PlaybackSession::TakeDecoder()
{
    if (thread.joinable())
        return nullptr;
    return std::move(decoder);
}

void PlaybackSession::SetPaused(bool value)
{
    {
        std::lock_guard lock(mutex);
        paused = value;
    }
    wake.notify_all();
}

void PlaybackSession::SetEnd(double seconds)
{
    std::lock_guard lock(mutex);
    end = seconds;
}

void PlaybackSession::RequestStop()
{
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    wake.notify_all();
}

bool PlaybackSession::Stopping() const
{
    std::lock_guard lock(mutex);
    return stop;
}

bool PlaybackSession::HasRoom() const
{
    if (queue.size() < softQueueLimit)
        return true;
    return sound && sound->BufferedSeconds() < soundLowSeconds;
}

void PlaybackSession::Run()
{
    VideoFrame video;
    AudioChunk audio;
    if (seekFirst >= 0.0) {
        try {
            decoder->SeekExact(seekFirst);
        } catch (const MediaError &) {
            std::lock_guard lock(mutex);
            producerDone = true;
        }
    }
    for (;;) {
        {
            std::unique_lock lock(mutex);
            // Timed wait: the sound ring drains without telling us.
            wake.wait_for(lock, std::chrono::milliseconds(10),
                          [this] { return stop || (!paused && !producerDone && HasRoom()); });
            if (stop)
                break;
            if (paused || producerDone || !HasRoom())
                continue;
        }
        const MediaDecoder::Item item = decoder->Next(video, audio);
        if (item == MediaDecoder::Item::Video)
            PushVideo(std::move(video));
        else if (item == MediaDecoder::Item::Audio)
            PushSound(audio);
        else {
            std::lock_guard lock(mutex);
            producerDone = true;
        }
    }
    decoder.reset(); // closed here, not on the thread that asked to stop
    threadEnded = true;
}

void PlaybackSession::PushVideo(VideoFrame &&frame)
{
    std::lock_guard lock(mutex);
    if (frame.pts >= end - endSlack) {
        producerDone = true;
        return;
    }
    if (frame.IsNull())
        return;
    if (queue.size() >= hardQueueLimit)
        queue.pop_front();
    queue.push_back(std::move(frame));
}

void PlaybackSession::PushSound(const AudioChunk &chunk)
{
    if (!sound || chunk.pts >= end)
        return;
    sound->SetOrigin(chunk.pts);
    const char *data = chunk.samples.constData();
    qint64 left = chunk.samples.size();
    while (left > 0 && !Stopping()) {
        const qint64 taken = sound->Push(data, left);
        data += taken;
        left -= taken;
        if (left > 0)
            sound->WaitForSpace(20);
    }
}

bool PlaybackSession::TakeDue(double clock, VideoFrame &frame, int &dropped)
{
    bool took = false;
    dropped = 0;
    {
        std::lock_guard lock(mutex);
        while (!queue.empty() && queue.front().pts <= clock) {
            if (took)
                ++dropped;
            frame = std::move(queue.front());
            queue.pop_front();
            took = true;
        }
    }
    if (took)
        wake.notify_all();
    return took;
}

bool PlaybackSession::NextPts(double &pts) const
{
    std::lock_guard lock(mutex);
    if (queue.empty())
        return false;
    pts = queue.front().pts;
    return true;
}

bool PlaybackSession::Exhausted() const
{
    std::lock_guard lock(mutex);
    return producerDone && queue.empty();
}
