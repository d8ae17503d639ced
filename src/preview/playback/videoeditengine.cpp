// SPDX-License-Identifier: GPL-3.0-or-later
#include "videoeditengine.h"

#include "audiooutput.h"
#include "audioring.h"
#include "keyframereader.h"
#include "mediadecoder.h"
#include "mediaerror.h"
#include "mediaprobe.h"
#include "playbacksession.h"
#include "videoeditexception.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr double soundBufferSeconds = 1.0;
constexpr int idleTickMs = 10;
constexpr int longestTickMs = 40;
// A drag that rests this long gets its exact picture decoded on a worker thread.
constexpr int settleMs = 150;
constexpr int prefetchPollMs = 10;

bool SameFile(const QString &a, const QString &b)
{
    return a == b || QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

double CleanStart(double start)
{
    return std::isfinite(start) && start > 0.0 ? start : 0.0;
}

double CleanEnd(double end)
{
    return std::isfinite(end) && end > 0.0 ? end : std::numeric_limits<double>::infinity();
}

} // namespace

VideoEditEngine::VideoEditEngine(Listener *listener, QSize box) : listener(listener), box(box)
{
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [this] { OnTick(); });
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    QObject::connect(&settle, &QTimer::timeout, [this] { StartPrefetch(); });
    prefetchPoll.setInterval(prefetchPollMs);
    QObject::connect(&prefetchPoll, &QTimer::timeout, [this] { ShowPrefetched(); });
}

VideoEditEngine::~VideoEditEngine()
{
    FinishPrefetch();
    tick.stop();
    if (sound)
        sound->Stop();
    session.reset();
    retired.clear();
}

double VideoEditEngine::GetClipLength(const QString &file)
{
    try {
        return MediaProbe::ClipLength(file);
    } catch (const MediaError &e) {
        throw CVideoEditException(e.Message());
    }
}

bool VideoEditEngine::HoldsVideo(const QString &file)
{
    try {
        return MediaProbe::HoldsVideo(file);
    } catch (const MediaError &e) {
        throw CVideoEditException(e.Message());
    }
}

std::unique_ptr<MediaDecoder> VideoEditEngine::OpenDecoder(const QString &file)
{
    FinishPrefetch();
    try {
        return decoders.Open(file, box, AudioOutput::DeviceFormat());
    } catch (const MediaError &e) {
        throw CVideoEditException(e.Message());
    }
}

bool VideoEditEngine::OpenClip(const QString &file, double start, double end, short flag)
{
    CloseClip();
    if (keyFrames && !(keyFrames->Stamp() == FileStamp::Of(file)))
        keyFrames.reset(); // the pictures of another clip
    decoder = OpenDecoder(file);
    path = file;
    rotation = decoder->Rotation();
    rangeStart = CleanStart(start);
    rangeEnd = CleanEnd(end);
    if (flag != 0) {
        try {
            ShowStart();
        } catch (...) {
            CloseClip();
            throw;
        }
    }
    return true;
}

// Decodes the frame at rangeStart on this thread and shows it: the one wait on decoding the UI
// accepts, so that what a caller sees after OpenClip is exact and known at once.
void VideoEditEngine::ShowStart()
{
    if (!decoder)
        decoder = OpenDecoder(path);
    if (ShowKept(rangeStart)) {
        positioned = false; // the playback thread seeks there when playback really starts
    } else {
        try {
            const VideoFrame picture = decoder->SeekExact(rangeStart);
            if (decoder->LastRoute() != MediaDecoder::Route::Held)
                ++stillsDecoded;
            Show(picture);
        } catch (const MediaError &e) {
            decoder.reset();
            throw CVideoEditException(e.Message());
        }
        KeepExact();
        positioned = true;
    }
    startShown = true;
    if (state == Empty)
        SetState(Holding);
}

// Shows a kept exact picture whose interval holds `seconds`, if the file is still the same.
bool VideoEditEngine::ShowKept(double seconds)
{
    const FileStamp now = FileStamp::Of(path);
    for (const ExactPicture &kept : exact) {
        if (kept.image.isNull() || !(kept.stamp == now) || seconds + 1e-6 < kept.pts ||
            seconds + 1e-6 >= kept.pts + kept.duration)
            continue;
        frame = kept.image;
        framePts = kept.pts;
        frameDuration = kept.duration;
        ++framesShown;
        listener->PictureShown(framePts);
        return true;
    }
    return false;
}

// Keeps the exact picture on screen in place of the kept one nearest in time (of the same file):
// dragging one trim point replaces its own earlier picture and leaves the other's.
void VideoEditEngine::KeepExact()
{
    if (frame.isNull() || frameDuration <= 0.0)
        return;
    const FileStamp stamp = decoder ? decoder->Stamp() : FileStamp::Of(path);
    ExactPicture *slot = &exact[0];
    for (ExactPicture &kept : exact) {
        if (kept.image.isNull() || !(kept.stamp == stamp)) {
            slot = &kept;
            break;
        }
        if (std::abs(kept.pts - framePts) < std::abs(slot->pts - framePts))
            slot = &kept;
    }
    *slot = {stamp, frame, framePts, frameDuration};
}

bool VideoEditEngine::ShowKeyFrameNear(double seconds)
{
    if (!IsOpen())
        return false;
    if (state == Playing || state == Paused)
        Stop();
    startShown = false;
    if (!std::isfinite(seconds))
        return false;
    settle.stop();
    dragAt = seconds;
    if (!ShowKept(seconds)) {
        try {
            if (!keyFrames || !(keyFrames->Stamp() == FileStamp::Of(path)) ||
                keyFrames->Box() != box) {
                keyFrames.reset();
                keyFrames = std::make_unique<KeyFrameReader>(path, box, rotation);
            }
            const int before = keyFrames->Decoded();
            const VideoFrame picture = keyFrames->KeyFrameAt(seconds);
            stillsDecoded += keyFrames->Decoded() - before;
            if (picture.IsNull())
                return false;
            Show(picture);
        } catch (const MediaError &) {
            keyFrames.reset();
            return false;
        }
        settle.start();
    }
    if (state == Empty)
        SetState(Holding);
    return true;
}

// The drag rests: the clip's decoder goes to a worker thread and decodes the exact picture there.
// A release at that time then finds the decoder on it (nothing left to decode), and if the drag
// still rests when it is done the picture replaces the key frame's.
void VideoEditEngine::StartPrefetch()
{
    if (prefetch || state != Holding || startShown || !IsOpen())
        return;
    std::unique_ptr<MediaDecoder> worker = std::move(decoder);
    try {
        if (!worker)
            worker = decoders.Open(path, box, AudioOutput::DeviceFormat());
    } catch (const MediaError &) {
        return;
    }
    prefetch = std::make_unique<Prefetch>();
    prefetch->decoder = std::move(worker);
    prefetch->at = dragAt;
    prefetch->thread = std::thread([job = prefetch.get()] {
        try {
            job->picture = job->decoder->SeekExact(job->at);
        } catch (const MediaError &) {
            job->decoder.reset();
        }
        job->done = true;
    });
    prefetchPoll.start();
}

void VideoEditEngine::ShowPrefetched()
{
    if (!prefetch || !prefetch->done)
        return;
    const double at = prefetch->at;
    const VideoFrame picture = prefetch->picture;
    const FileStamp stamp = prefetch->decoder ? prefetch->decoder->Stamp() : FileStamp();
    FinishPrefetch();
    if (picture.IsNull() || state != Holding || startShown || at != dragAt ||
        !(stamp == FileStamp::Of(path)))
        return;
    Show(picture);
    KeepExact();
}

// Waits for a decoding worker (at once when it is done) and keeps its decoder for the next use.
void VideoEditEngine::FinishPrefetch()
{
    if (!prefetch)
        return;
    prefetchPoll.stop();
    prefetch->thread.join();
    if (!prefetch->picture.IsNull())
        ++stillsDecoded;
    decoders.Keep(std::move(prefetch->decoder));
    prefetch.reset();
}

bool VideoEditEngine::SetClipRange(const QString &file, double start, double end)
{
    if (!IsOpen())
        throw CVideoEditException(QStringLiteral("no clip is open"));
    if (!SameFile(file, path))
        throw CVideoEditException(QStringLiteral("\"%1\" is not the open clip").arg(file));
    const double newStart = CleanStart(start);
    rangeEnd = CleanEnd(end);
    if (session)
        session->SetEnd(rangeEnd);
    if (newStart != rangeStart) {
        rangeStart = newStart;
        startShown = false;
        if (decoder && state == Holding)
            ShowStart();
    }
    return true;
}

bool VideoEditEngine::Play()
{
    if (!IsOpen())
        throw CVideoEditException(QStringLiteral("no clip is open"));
    if (state == Playing)
        return true;
    if (state == Paused && session) {
        session->SetPaused(false);
        if (sound)
            sound->Resume();
        wall.restart();
        SetState(Playing);
        tick.start(0);
        return true;
    }
    if (!decoder || !startShown)
        ShowStart();
    StartSession();
    return true;
}

// The decoding thread and the sound start on the first tick rather than here: a Pause that
// follows at once (the page's way of leaving a still picture) then finds the decoder untouched,
// still on the shown frame, and it can be kept for the next clip.
void VideoEditEngine::StartSession()
{
    const AudioFormatSpec format = decoder->SoundFormat();
    sessionSound.reset();
    if (decoder->HasAudio() && format.IsValid())
        sessionSound = std::make_shared<AudioRing>(format, soundBufferSeconds);
    session = std::make_unique<PlaybackSession>(std::move(decoder), rangeEnd);
    if (!positioned)
        session->SeekFirst(rangeStart);
    startShown = positioned = false;
    clockBase = framePts;
    lastSoundPosition = -1.0;
    SetState(Playing);
    tick.start(0);
}

void VideoEditEngine::BeginSession()
{
    std::shared_ptr<AudioRing> ring = std::move(sessionSound);
    if (ring && !sound)
        sound = std::make_unique<AudioOutput>();
    if (ring && !sound->Start(ring))
        ring.reset();
    session->Start(std::move(ring));
    wall.start();
}

void VideoEditEngine::Pause()
{
    if (state != Playing)
        return;
    if (session->Started())
        clockBase = Clock();
    tick.stop();
    session->SetPaused(true);
    if (sound)
        sound->Suspend();
    SetState(Paused);
}

void VideoEditEngine::Stop()
{
    Halt();
    if (state == Playing || state == Paused)
        SetState(Holding);
}

// Ends playback; the next Play starts again from the range start. The picture stays.
void VideoEditEngine::Halt()
{
    tick.stop();
    if (sound)
        sound->Stop();
    if (session && !session->Started()) {
        decoder = session->TakeDecoder();
        session.reset();
    }
    sessionSound.reset();
    RetireSession();
    decoders.Keep(std::move(decoder));
    startShown = positioned = false;
}

void VideoEditEngine::CloseClip()
{
    Halt();
    path.clear();
    frame = QImage();
    framePts = frameDuration = 0.0;
    SetState(Empty);
    listener->PictureGone();
}

// The sound clock when there is sound (it is what the listener hears), otherwise the wall clock.
// Between the coarse updates of the sound position, and if the sound stops early, the wall clock
// carries on from the last sound position.
double VideoEditEngine::Clock()
{
    double position = 0.0;
    if (sound && sound->Position(position) && position != lastSoundPosition) {
        lastSoundPosition = position;
        clockBase = position;
        wall.restart();
    }
    return clockBase + wall.nsecsElapsed() / 1e9;
}

void VideoEditEngine::OnTick()
{
    ReapSessions();
    if (state != Playing || !session)
        return;
    if (!session->Started())
        BeginSession();
    const double clock = Clock();
    VideoFrame picture;
    int dropped = 0;
    if (session->TakeDue(clock, picture, dropped)) {
        framesDropped += dropped;
        Show(picture);
    }
    if (session->Exhausted() && clock >= framePts + frameDuration) {
        FinishPlayback();
        return;
    }
    double next = 0.0;
    int delay = idleTickMs;
    if (session->NextPts(next))
        delay = std::clamp(int(std::ceil((next - clock) * 1000.0)), 1, longestTickMs);
    tick.start(delay);
}

void VideoEditEngine::FinishPlayback()
{
    Stop();
    listener->PlaybackEnded();
}

void VideoEditEngine::Show(const VideoFrame &picture)
{
    if (picture.IsNull())
        return;
    const QImage view(reinterpret_cast<const uchar *>(picture.pixels.constData()), picture.width,
                      picture.height, picture.width * 4, QImage::Format_RGB32);
    frame = view.copy(); // the image must not outlive the decoder's buffer
    framePts = picture.pts;
    frameDuration = picture.duration;
    ++framesShown;
    listener->PictureShown(framePts);
}

void VideoEditEngine::RetireSession()
{
    if (!session)
        return;
    session->RequestStop();
    retired.push_back(std::move(session));
    ReapSessions();
}

// Sessions asked to stop end on their own thread; joining one is instant once it has ended, so
// the UI thread never waits for a decoder to finish a step.
void VideoEditEngine::ReapSessions()
{
    std::erase_if(retired,
                  [](const std::unique_ptr<PlaybackSession> &s) { return s->ThreadEnded(); });
}

void VideoEditEngine::SetState(int next)
{
    if (next == state)
        return;
    state = next;
    listener->StateEntered(state);
}

extern "C" __attribute__((visibility("default"))) VideoEditCore *
KestraniCreateVideoEditCore(VideoEditCore::Listener *listener, int boxWidth, int boxHeight)
{
    return new VideoEditEngine(listener, QSize(boxWidth, boxHeight));
}
