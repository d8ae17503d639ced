// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>

// Which position a rangeChanged notification is about (its first argument).
enum RangeChangedCode {
    RANGE_LEFT_CHANGED = 0,
    RANGE_RIGHT_CHANGED = 1,
    RANGE_BOTH_MOVED = 2,
};

// A horizontal track with two thumbs marking [left, right] inside [minimum, maximum]. The
// values are plain doubles in the caller's units; the control knows nothing of what they mean.
// Every change is reported through rangeChanged, emitted synchronously from inside the call
// that caused it (including SetMinMax and SetRange), so a receiver that calls back into the
// slider must guard against its own changes.
class CRangeSlider : public QWidget
{
    Q_OBJECT

public:
    explicit CRangeSlider(QWidget *parent = nullptr);

    void SetMinMax(double a, double b);
    void SetRange(double l, double r);
    void GetRange(double &l, double &r) const;
    double GetMinimum() const { return minimum; }
    double GetMaximum() const { return maximum; }
    // What a drag in progress holds (a RangeChangedCode), or -1 when no drag is in progress.
    int DraggedPart() const { return tracking ? trackedPart : -1; }

    QSize sizeHint() const override;

signals:
    // wParam: a RangeChangedCode; lParam: 1 when a drag ends (button released), else 0.
    void rangeChanged(int wParam, int lParam);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // Edges as the hit tests use them: right and bottom are outside the rectangle.
    struct Edges {
        int left = 0, top = 0, right = 0, bottom = 0;
        bool Contains(QPoint p) const;
        QPoint Centre() const;
    };

    void ClampPositions();
    void UpdateGeometry();
    int ValueToPixel(double v) const;
    double PixelToValue(int x) const;
    void DragTo(int pointerX);
    void Notify(int wParam, int lParam);

    double minimum = 0.0;
    double maximum = 1.0;
    double left = 0.0;
    double right = 1.0;
    int thumbWidth = 13;
    bool tracking = false;
    int trackedPart = 0;
    Edges leftThumbRect;
    Edges rightThumbRect;
    int travel = 0;
    QPoint dragOffset;

    QPixmap track;
    QPixmap leftThumb;
    QPixmap rightThumb;
    QPixmap band;
};
