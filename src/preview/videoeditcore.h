// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

// The working part of the preview behind CVideoEdit: decoding, playback and sound. It lives in
// a module of its own (the media libraries and the sound system come with it), which the
// widget loads the first time a clip is asked for, so that the window does not wait for them.
// The operations are CVideoEdit's; failures throw CVideoEditException.
class VideoEditCore
{
public:
    // What the core tells the widget; called on the UI thread.
    class Listener
    {
    public:
        virtual void PictureShown(double position) = 0;
        virtual void PictureGone() = 0;
        virtual void StateEntered(int state) = 0; // a CVideoEdit::State
        virtual void PlaybackEnded() = 0;

    protected:
        ~Listener() = default;
    };

    virtual ~VideoEditCore() = default;

    virtual double GetClipLength(const QString &path) = 0;
    virtual bool HoldsVideo(const QString &path) = 0;
    virtual bool OpenClip(const QString &path, double start, double end, short flag) = 0;
    virtual bool SetClipRange(const QString &path, double start, double end) = 0;
    virtual bool Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    virtual void CloseClip() = 0;
    virtual bool ShowKeyFrameNear(double seconds) = 0;

    virtual int State() const = 0;
    virtual bool IsOpen() const = 0;
    virtual QImage CurrentFrame() const = 0;
    virtual double CurrentPosition() const = 0;
    virtual double CurrentDuration() const = 0;
    virtual int FramesShown() const = 0;
    virtual int FramesDropped() const = 0;
    virtual int DecodersOpened() const = 0;
    virtual int StillsDecoded() const = 0;
};

// The module's one entry point: `extern "C" VideoEditCore *KestraniCreateVideoEditCore(
// VideoEditCore::Listener *listener, int boxWidth, int boxHeight)`.
using CreateVideoEditCore = VideoEditCore *(*)(VideoEditCore::Listener *, int, int);
inline constexpr const char *createVideoEditCoreName = "KestraniCreateVideoEditCore";
