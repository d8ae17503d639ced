// SPDX-License-Identifier: GPL-3.0-or-later
#include "rangeslider.h"

#include "artwork.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The thumbs sit beside each other at equal values, so a thumb travels over the client width
// minus both thumbs.
constexpr int kThumbs = 2;
constexpr int kTrackTop = 3;
constexpr int kTrackHeight = 11;
constexpr int kThumbHeight = 17;
constexpr int kBandTop = 5;
constexpr int kBandHeight = 7;

// Skin images by resource id; on a high-density screen the double-size variant is used so the
// skin stays crisp.
QPixmap LoadSkin(int id, qreal ratio)
{
    const QString base = QStringLiteral(":/bitmaps/%1").arg(id);
    if (ratio > 1.0 && QFile::exists(base + QStringLiteral("@2x.png"))) {
        QPixmap pixmap = Artwork::Pixmap(base + QStringLiteral("@2x.png"));
        pixmap.setDevicePixelRatio(2.0);
        return pixmap;
    }
    return Artwork::Pixmap(base + QStringLiteral(".png"));
}

// Integer part of a double, saturated so that absurd values never overflow an int.
int TruncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    constexpr double limit = std::numeric_limits<int>::max() / 2;
    return int(std::trunc(std::clamp(v, -limit, limit)));
}

} // namespace

bool CRangeSlider::Edges::Contains(QPoint p) const
{
    return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom;
}

QPoint CRangeSlider::Edges::Centre() const
{
    return QPoint((left + right) / 2, (top + bottom) / 2);
}

CRangeSlider::CRangeSlider(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Nothing is painted behind the track: the parent's background shows through.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

QSize CRangeSlider::sizeHint() const
{
    return QSize(228, kThumbHeight);
}

void CRangeSlider::SetMinMax(double a, double b)
{
    minimum = std::min(a, b);
    maximum = std::max(a, b);
    ClampPositions();
    update();
}

void CRangeSlider::SetRange(double l, double r)
{
    // Stored as given: a reversed pair inside the bounds stays reversed.
    left = l;
    right = r;
    ClampPositions();
    update();
}

void CRangeSlider::GetRange(double &l, double &r) const
{
    l = left;
    r = right;
}

void CRangeSlider::ClampPositions()
{
    if (left < minimum) {
        left = minimum;
        Notify(RANGE_LEFT_CHANGED, 0);
        if (right < left) {
            right = left;
            Notify(RANGE_RIGHT_CHANGED, 0);
        }
    }
    if (right > maximum) {
        right = maximum;
        Notify(RANGE_RIGHT_CHANGED, 0);
        if (left > right) {
            left = right;
            Notify(RANGE_LEFT_CHANGED, 0);
        }
    }
}

// Geometry follows the current width, so hit tests and key steps are right even before the
// first paint and after a resize that has not been painted yet.
void CRangeSlider::UpdateGeometry()
{
    thumbWidth = 13;
    travel = width() - kThumbs * thumbWidth;
    const int xl = ValueToPixel(left);
    const int xr = ValueToPixel(right);
    leftThumbRect = {xl, 0, xl + thumbWidth, height()};
    rightThumbRect = {xr + thumbWidth, 0, xr + kThumbs * thumbWidth, height()};
}

// A zero span or a control too narrow to move in puts every value at the left end.
int CRangeSlider::ValueToPixel(double v) const
{
    const double span = maximum - minimum;
    if (span <= 0.0 || travel <= 0)
        return 0;
    return TruncateToInt((v - minimum) / span * travel + 0.5);
}

double CRangeSlider::PixelToValue(int x) const
{
    return minimum + double(x) / travel * (maximum - minimum);
}

void CRangeSlider::Notify(int wParam, int lParam)
{
    emit rangeChanged(wParam, lParam);
}

void CRangeSlider::paintEvent(QPaintEvent *)
{
    UpdateGeometry();
    const qreal ratio = devicePixelRatioF();
    if (track.isNull() || track.devicePixelRatio() != (ratio > 1.0 ? 2.0 : 1.0)) {
        track = LoadSkin(212, ratio);
        leftThumb = LoadSkin(213, ratio);
        rightThumb = LoadSkin(214, ratio);
        band = LoadSkin(215, ratio);
    }
    const int w = thumbWidth;
    const int xl = leftThumbRect.left;
    const int xr = rightThumbRect.left - w;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawPixmap(QRect(0, kTrackTop, width(), kTrackHeight), track);
    painter.drawPixmap(QRect(xl, 0, w, kThumbHeight), leftThumb);
    painter.drawPixmap(QRect(xr + w, 0, w, kThumbHeight), rightThumb);
    // The band overlaps the facing column of each thumb. A reversed pair gives a negative
    // width; the band then covers the same columns from the other side.
    int bandX = xl + w - 1;
    int bandWidth = xr - xl + 2;
    if (bandWidth < 0) {
        bandX += bandWidth;
        bandWidth = -bandWidth;
    }
    painter.drawPixmap(QRect(bandX, kBandTop, bandWidth, kBandHeight), band);
}

void CRangeSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    update();
    if (tracking)
        return;
    UpdateGeometry();
    const QPoint p = event->position().toPoint();
    const Edges middle{leftThumbRect.right + 1, 0, rightThumbRect.left - 1, height()};
    const Edges *hit = nullptr;
    if (leftThumbRect.Contains(p)) {
        hit = &leftThumbRect;
        trackedPart = RANGE_LEFT_CHANGED;
    } else if (rightThumbRect.Contains(p)) {
        hit = &rightThumbRect;
        trackedPart = RANGE_RIGHT_CHANGED;
    } else if (middle.Contains(p)) {
        hit = &middle;
        trackedPart = RANGE_BOTH_MOVED;
    }
    // The track outside the thumbs and the bar does nothing: no paging, no jump.
    if (hit == nullptr)
        return;
    tracking = true;
    dragOffset = p - hit->Centre();
}

void CRangeSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!tracking) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    DragTo(event->position().toPoint().x());
    update();
}

// dragOffset and the offsets below turn the pointer into the pixel of the grabbed thumb's
// left edge (or the range's middle), so a part grabbed off-centre does not jump.
void CRangeSlider::DragTo(int pointerX)
{
    UpdateGeometry();
    const int x = pointerX - dragOffset.x();
    const int w = thumbWidth;
    // Without room to move there is no pixel-to-value mapping: the positions stay, and the
    // move is still reported like any other.
    const bool canMove = travel > 0;
    if (trackedPart == RANGE_LEFT_CHANGED) {
        if (canMove)
            left = PixelToValue(x - w / 2);
        if (left >= right)
            left = right;
        if (left <= minimum)
            left = minimum;
        Notify(RANGE_LEFT_CHANGED, 0);
    } else if (trackedPart == RANGE_RIGHT_CHANGED) {
        const double old = right;
        if (canMove)
            right = PixelToValue(x - 3 * w / 2);
        if (right <= left)
            right = left;
        if (right >= maximum)
            right = maximum;
        Notify(right != old ? RANGE_RIGHT_CHANGED : RANGE_LEFT_CHANGED, 0);
    } else {
        const double width = right - left;
        if (canMove) {
            const double centre = PixelToValue(x - w);
            left = centre - width * 0.5;
            right = centre + width * 0.5;
        }
        if (left <= minimum) {
            left = minimum;
            right = minimum + width;
        }
        if (right >= maximum) {
            right = maximum;
            left = maximum - width;
        }
        Notify(RANGE_BOTH_MOVED, 0);
    }
}

void CRangeSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !tracking) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    tracking = false;
    Notify(trackedPart, 1);
    update();
}

// The second press of a double-click must not start a drag, so it is not turned into a press.
void CRangeSlider::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void CRangeSlider::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if ((key != Qt::Key_Left && key != Qt::Key_Right) || (mods & Qt::ControlModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    UpdateGeometry();
    const double span = maximum - minimum;
    const double step = travel > 0 ? span / travel : 0.0;
    if (step <= 0.0 || !std::isfinite(step))
        return;
    const int delta = key == Qt::Key_Left ? -1 : 1;
    const bool shift = mods & Qt::ShiftModifier;
    // Pixel indices as whole numbers held in doubles: the values may lie anywhere.
    double l = std::trunc((left - minimum) / step + 0.5);
    double r = std::trunc((right - minimum) / step + 0.5);
    if (!shift)
        l += delta;
    r += delta;
    // With Shift only the right end moves, never below the left end; the left end stays
    // exactly where it was (the frame it names stays the first of the trim).
    const bool belowLeft = shift && delta < 0 && r < l;
    if (l >= 0 && r <= travel && !belowLeft) {
        if (!shift)
            left = l * step + minimum;
        right = std::max(left, r * step + minimum);
    }
    Notify(shift ? RANGE_LEFT_CHANGED : RANGE_BOTH_MOVED, 0);
    update();
}

void CRangeSlider::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void CRangeSlider::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}
