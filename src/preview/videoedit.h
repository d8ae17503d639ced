// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "decodercache.h"
#include "filestamp.h"

#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class AudioOutput;
class AudioRing;
class KeyFrameReader;
class MediaDecoder;
class PlaybackSession;
struct VideoFrame;

// The preview: shows one frame of a clip or plays a range of it, drawn inside the widget scaled
// to fit with its display aspect ratio and rotation, letter-boxed in black. Every operation runs
// on the UI thread; decoding during playback runs on a worker thread, and only opening a clip or
// moving it to a new start decodes on the caller's thread (the one frame shown there).
// Failures throw CVideoEditException; nothing is left half-open after one.
// Closing a clip keeps its decoder for a while: opening the same unchanged file again reuses it,
// so showing a clip at one time after another costs only the decoding between them.
// While a slider is dragged, ShowKeyFrameNear follows it with key-frame pictures, which cost one
// packet each and are kept for a while. The last two exact pictures (one per trim point, as a
// rule) are kept too: showing either time again puts its picture up without decoding.
class CVideoEdit : public QWidget
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

    State GetState() const { return state; }
    bool IsOpen() const { return !path.isEmpty(); }
    // The picture on screen without its black bars (null when empty), and its clip time.
    QImage CurrentFrame() const { return frame; }
    double CurrentPosition() const { return framePts; }
    int FramesShown() const { return framesShown; }
    int FramesDropped() const { return framesDropped; }
    // Decoders opened from scratch (probing the file) since construction.
    int DecodersOpened() const { return decoders.DecodersOpened(); }
    // Pictures decoded for showing a still (exact ones and key frames) since construction;
    // pictures shown from what was kept add nothing.
    int StillsDecoded() const { return stillsDecoded; }

    QSize sizeHint() const override { return {previewWidth, previewHeight}; }

signals:
    void FrameShown(double position);
    void StateChanged(CVideoEdit::State state);
    void PlaybackFinished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void OnTick();
    std::unique_ptr<MediaDecoder> OpenDecoder(const QString &file);
    void ShowStart();
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
    void SetState(State next);

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
    std::unique_ptr<PlaybackSession> session;
    std::shared_ptr<AudioRing> sessionSound; // handed to the session when its thread starts
    std::vector<std::unique_ptr<PlaybackSession>> retired;
    std::unique_ptr<AudioOutput> sound;
    DecoderCache decoders;
    State state = State::Empty;
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
