// SPDX-License-Identifier: GPL-3.0-or-later
#include "videoedit.h"

#include "videoeditexception.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QPainter>

namespace {

// The program folder first (an installed program keeps the module beside itself), then where
// the build put it (tests and benchmarks run from other folders).
CreateVideoEditCore LoadPlayback()
{
    static CreateVideoEditCore create = nullptr;
    if (create)
        return create;
    const QString name = QStringLiteral("libkestrani_playback.so");
    QString failure;
    for (const QString &file : {QCoreApplication::applicationDirPath() + '/' + name,
                                QStringLiteral(KESTRANI_PLAYBACK_MODULE)}) {
        QLibrary module(file);
        if (module.load())
            create = reinterpret_cast<CreateVideoEditCore>(module.resolve(createVideoEditCoreName));
        if (create)
            return create;
        if (failure.isEmpty())
            failure = module.errorString();
    }
    throw CVideoEditException(QStringLiteral("the preview cannot play anything: %1").arg(failure));
}

} // namespace

CVideoEdit::CVideoEdit(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CVideoEdit::~CVideoEdit()
{
    core.reset();
}

VideoEditCore &CVideoEdit::Core()
{
    if (!core)
        core.reset(LoadPlayback()(this, previewWidth, previewHeight));
    return *core;
}

double CVideoEdit::GetClipLength(const QString &path)
{
    return Core().GetClipLength(path);
}

bool CVideoEdit::HoldsVideo(const QString &path)
{
    return Core().HoldsVideo(path);
}

bool CVideoEdit::OpenClip(const QString &path, double start, double end, short flag)
{
    return Core().OpenClip(path, start, end, flag);
}

bool CVideoEdit::SetClipRange(const QString &path, double start, double end)
{
    return Core().SetClipRange(path, start, end);
}

bool CVideoEdit::Play()
{
    return Core().Play();
}

void CVideoEdit::Pause()
{
    if (core)
        core->Pause();
}

void CVideoEdit::Stop()
{
    if (core)
        core->Stop();
}

void CVideoEdit::CloseClip()
{
    if (core)
        core->CloseClip();
}

bool CVideoEdit::ShowKeyFrameNear(double seconds)
{
    return core && core->ShowKeyFrameNear(seconds);
}

void CVideoEdit::PictureShown(double position)
{
    update();
    emit FrameShown(position);
}

void CVideoEdit::PictureGone()
{
    update();
}

void CVideoEdit::StateEntered(int state)
{
    emit StateChanged(State(state));
}

void CVideoEdit::PlaybackEnded()
{
    emit PlaybackFinished();
}

void CVideoEdit::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage frame = CurrentFrame();
    if (frame.isNull())
        return;
    const QSize shown = frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    if (shown == frame.size())
        painter.drawImage(target.topLeft(), frame);
    else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, frame);
    }
}
