// SPDX-License-Identifier: GPL-3.0-or-later
#include "fadeinpicture.h"

#include "artwork.h"

#include <QFile>
#include <QPainter>

CFadeInPicture::CFadeInPicture(QWidget *parent) : QWidget(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &CFadeInPicture::Step);
}

bool CFadeInPicture::FadeIn(int id, int delay)
{
    if (!FadeIn(QStringLiteral(":/bitmaps/%1.png").arg(id), delay))
        return false;
    bitmapId = id;
    return true;
}

bool CFadeInPicture::FadeIn(const QString &imagePath, int delay)
{
    QPixmap picture = Artwork::Pixmap(imagePath);
    if (picture.isNull())
        return false;
    // On a high-DPI screen a doubled copy beside the file ("name@2x.png") draws crisply.
    const qreal ratio = devicePixelRatioF();
    QPixmap doubled;
    if (ratio > 1.0 && QFile::exists(Artwork::Doubled(imagePath)) &&
        !(doubled = Artwork::Pixmap(Artwork::Doubled(imagePath))).isNull() &&
        doubled.size() == picture.size() * 2) {
        doubled.setDevicePixelRatio(2.0);
        picture = doubled;
    }
    return Start(picture, delay);
}

bool CFadeInPicture::Start(const QPixmap &picture, int delay)
{
    bitmap = picture;
    stepDelay = delay;
    fadeDone = false;
    step = 0;
    shown = QImage();
    // The control takes the picture's size and comes to the top of its siblings.
    resize(bitmap.deviceIndependentSize().toSize());
    raise();
    // The first step runs from the event loop, once the window around it has been laid out
    // and painted, so that it starts from what is really shown there.
    timer.start(0);
    return true;
}

void CFadeInPicture::Step()
{
    if (step == 0)
        shown = GrabBackground();
    if (step < StepCount) {
        QPainter painter(&shown);
        painter.setOpacity(qMin(255, step * 5) / 255.0);
        painter.drawPixmap(0, 0, bitmap);
        painter.end();
        ++step;
        update();
        timer.start(stepDelay);
        return;
    }
    fadeDone = true;
    shown = QImage();
    update();
    emit fadeFinished();
}

// What the parent shows under the control, drawn without the control itself.
QImage CFadeInPicture::GrabBackground() const
{
    const qreal ratio = devicePixelRatioF();
    const QSize area = bitmap.deviceIndependentSize().toSize();
    QImage image(area * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(palette().color(QPalette::Window));
    if (QWidget *parent = parentWidget()) {
        QPainter painter(&image);
        // Siblings count too; the control itself draws nothing before the first step.
        parent->render(&painter, QPoint(), QRegion(QRect(pos(), area)),
                       QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    return image;
}

void CFadeInPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (fadeDone)
        painter.drawPixmap(0, 0, bitmap);
    else if (!shown.isNull())
        painter.drawImage(0, 0, shown);
}
