// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "videoeditcore.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

// The preview: shows one frame of a clip or plays a range of it, drawn inside the widget scaled
// to fit with its display aspect ratio and rotation, letter-boxed in black. Failures throw
// CVideoEditException; nothing is left half-open after one. The work is done by the playback
// module (VideoEditCore), loaded with the media libraries on the first operation that needs a
// clip: until then the widget is an empty black box that costs nothing at start-up.
// While a slider is dragged, ShowKeyFrameNear follows it with key-frame pictures at once; the
// exact pictures of the last two times shown (the two trim points, as a rule) are kept, so
// going back to either shows it without decoding.
class CVideoEdit : public QWidget, private VideoEditCore::Listener
{
    Q_OBJECT

public:
    enum class State { Empty, Holding, Playing, Paused };
    Q_ENUM(State)

    static constexpr int previewWidth = 264;
    static constexpr int previewHeight = 200;

    explicit CVideoEdit(QWidget *parent = nullptr);
    ~CVideoEdit() override;

    double GetClipLength(const QString &path);
    // Whether the file holds a video stream (a music file's cover picture is none); throws
    // when the file cannot be read at all, saying why.
    bool HoldsVideo(const QString &path);
    // flag 1 shows the frame at `start` at once; 0 only opens (the frame appears on Play).
    // Playback runs from start to end (seconds); an end <= 0 means the end of the clip.
    bool OpenClip(const QString &path, double start, double end, short flag);
    bool SetClipRange(const QString &path, double start, double end);
    bool Play();
    void Pause();
    void Stop();
    void CloseClip();
    // Shows the open clip's key frame at or before `seconds` at once (or the exact picture kept
    // for that time), ending any playback; the exact picture comes with the next OpenClip or
    // Play. False, with the picture left as it was, when no clip is open or nothing can be
    // decoded there. Never throws: it runs on every step of a drag.
    bool ShowKeyFrameNear(double seconds);

    State GetState() const { return core ? State(core->State()) : State::Empty; }
    bool IsOpen() const { return core && core->IsOpen(); }
    // The picture on screen without its black bars (null when empty), its clip time and how
    // long it stays on screen.
    QImage CurrentFrame() const { return core ? core->CurrentFrame() : QImage(); }
    double CurrentPosition() const { return core ? core->CurrentPosition() : 0.0; }
    double CurrentDuration() const { return core ? core->CurrentDuration() : 0.0; }
    int FramesShown() const { return core ? core->FramesShown() : 0; }
    int FramesDropped() const { return core ? core->FramesDropped() : 0; }
    // Decoders opened from scratch (probing the file) since construction.
    int DecodersOpened() const { return core ? core->DecodersOpened() : 0; }
    // Pictures decoded for showing a still (exact ones and key frames) since construction;
    // pictures shown from what was kept add nothing.
    int StillsDecoded() const { return core ? core->StillsDecoded() : 0; }

    QSize sizeHint() const override { return {previewWidth, previewHeight}; }

signals:
    void FrameShown(double position);
    void StateChanged(CVideoEdit::State state);
    void PlaybackFinished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    VideoEditCore &Core();
    void PictureShown(double position) override;
    void PictureGone() override;
    void StateEntered(int state) override;
    void PlaybackEnded() override;

    std::unique_ptr<VideoEditCore> core;
};
