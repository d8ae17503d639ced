// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

// A picture that fades in over what was on screen where it stands, then paints plainly.
// The fade runs on the UI thread's timer: 52 steps of alpha 0, 5, ..., 255, each blended over
// the previous result, with stepDelay milliseconds after each step.
class CFadeInPicture : public QWidget
{
    Q_OBJECT
public:
    explicit CFadeInPicture(QWidget *parent = nullptr);

    // Loads ":/bitmaps/<bitmapId>.png", takes its size and starts the fade. False, and nothing
    // else happens, when the bitmap cannot be loaded.
    bool FadeIn(int bitmapId, int stepDelay);
    // The same with an image file of any path.
    bool FadeIn(const QString &imagePath, int stepDelay);

    bool IsFadeDone() const { return fadeDone; }
    int GetBitmapId() const { return bitmapId; }
    int GetStepDelay() const { return stepDelay; }
    int GetStepsDone() const { return step; }

    static constexpr int StepCount = 52;

signals:
    void fadeFinished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool Start(const QPixmap &picture, int delay);
    void Step();
    QImage GrabBackground() const;

    bool fadeDone = false;
    int bitmapId = 0;
    int stepDelay = 100;
    QPixmap bitmap;
    QImage shown; // what the fade has drawn so far
    QTimer timer;
    int step = 0;
};
