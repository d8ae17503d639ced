// SPDX-License-Identifier: GPL-3.0-or-later
// The trim slider as a person uses it: each thumb and the bar between them dragged with the
// mouse, the arrow keys, the bounds a caller sets, and a clip of no length. Every row checks
// the range the page reads, the notifications it gets, where the thumbs are painted, and that
// the thumbs never cross or leave the bounds, not even inside a notification.

#include "rangeslider.h"

#include <QApplication>
#include <QKeySequence>
#include <QMouseEvent>
#include <QTest>

namespace {

void Row(const char *name, const char *start, const char *actions, const char *end,
         const char *notified)
{
    QTest::newRow(name) << QString(start) << QString(actions) << QString(end) << QString(notified);
}

} // namespace

class TestRangeSlider : public QObject
{
    Q_OBJECT

    // The page's slider is 228 pixels wide with two thumbs of 13: a thumb travels 202 pixels,
    // and on the 404 s clip of the rows each pixel is 2 s. It stands on a magenta backdrop, so
    // that what it paints shows, and is not painted before a row acts on it: hit tests and key
    // steps must not wait for a paint.
    QWidget parent;
    CRangeSlider *slider = nullptr;
    double l = 0, r = 0;

    bool InOrder()
    {
        slider->GetRange(l, r);
        return slider->GetMinimum() <= l && l <= r && r <= slider->GetMaximum();
    }
    int Pixel(double v) const
    {
        const double span = slider->GetMaximum() - slider->GetMinimum();
        return span <= 0 ? 0 : int((v - slider->GetMinimum()) / span * 202 + 0.5);
    }
    void Mouse(QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, QPointF(x, 8), QPointF(x, 8), button, held, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    }
    // Grabs a part `offset` pixels off its centre and moves the pointer by `dx` in two moves.
    void Drag(const QString &part, int dx, int offset)
    {
        InOrder();
        const int dragged = QStringList{"left", "right", "bar"}.indexOf(part);
        const int at = QList<int>{Pixel(l) + 6, Pixel(r) + 19, (Pixel(l) + Pixel(r) + 26) / 2,
                                  2}[dragged < 0 ? 3 : dragged] +
                       offset;
        Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        for (int x : {at + dx / 2, at + dx}) {
            Mouse(QEvent::MouseMove, x, Qt::NoButton, Qt::LeftButton);
            QCOMPARE(slider->DraggedPart(), dragged); // what the preview follows
        }
        Mouse(QEvent::MouseButtonRelease, at + dx, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(slider->DraggedPart(), -1);
    }

private slots:
    void init()
    {
        parent.setPalette(QPalette(Qt::magenta));
        parent.setAutoFillBackground(true);
        parent.resize(228, 17);
        slider = new CRangeSlider(&parent);
        slider->setGeometry(0, 0, 228, 17);
    }
    void cleanup() { delete slider; }

    // start: "left right" on the 404 s clip, or "minimum maximum left right". Actions, split by
    // ';': "left|right|bar|track DX [OFFSET]" drags that part by DX pixels, grabbed OFFSET
    // pixels off its centre; "key K" presses K; "range L R" and "bounds A B" are the caller's
    // SetRange and SetMinMax.
    void use_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("notified");
        Row("left thumb grabbed off its centre follows the pointer", "100 168", "left 10 -5",
            "120 168", "0,0 0,0 0,1");
        Row("bar moves both ends and keeps the length", "100 168", "bar 20", "140 208",
            "2,0 2,0 2,1");
        Row("left thumb dragged past the right one stops on it; they part again", "100 168",
            "left 400; right 30", "168 228", "0,0 0,0 0,1 1,0 1,0 1,1");
        Row("right thumb dragged past the left one stops on it", "100 168", "right -400", "100 100",
            "1,0 0,0 1,1");
        Row("thumbs stop at the clip's start and end", "100 168", "left -400; right 400", "0 404",
            "0,0 0,0 0,1 1,0 0,0 1,1");
        Row("bar stops at either end and keeps the length", "100 168", "bar -400; bar 400",
            "336 404", "2,0 2,0 2,1 2,0 2,0 2,1");
        Row("a press on the free track starts nothing", "100 168", "track 100", "100 168", "");
        Row("Left and Right move both ends a pixel from the nearest pixels", "101 169",
            "key Left; key Right; key Right", "104 172", "2,0 2,0 2,0");
        Row("Shift moves the right end, down onto the left and no further", "100 102",
            "key Shift+Right; key Shift+Left; key Shift+Left; key Shift+Left", "100 100",
            "0,0 0,0 0,0 0,0");
        Row("Shift leaves the left end exactly where it was, off the pixels too", "101.3 169",
            "key Shift+Right", "101.3 172", "0,0");
        Row("Left at the start and Right at the end are refused, and reported", "0 404",
            "key Left; key Right", "0 404", "2,0 2,0");
        Row("a range beyond both ends is clamped, left first", "100 168", "range -1 500", "0 404",
            "0,0 1,0");
        Row("a shorter clip's bounds pull the range inside", "100 168", "bounds 140 120", "120 140",
            "0,0 1,0");
        Row("bounds moved past the range close it at their start", "100 168", "bounds 200 220",
            "200 200", "0,0 1,0");
        Row("a clip of no length stays put however it is moved", "0 0 0 0",
            "key Right; key Shift+Left; right 200; left 200", "0 0", "0,0 0,0 1,1 0,0 0,0 0,1");
    }
    void use()
    {
        QFETCH(QString, start);
        QFETCH(QString, actions);
        const QStringList v = (start.count(u' ') == 1 ? "0 404 " + start : start).split(u' ');
        slider->SetMinMax(v[0].toDouble(), v[1].toDouble());
        slider->SetRange(v[2].toDouble(), v[3].toDouble());
        // The page reads the range inside the notification: it must be in order there too (the
        // caller's own SetRange and SetMinMax may pass through disorder).
        QStringList notified;
        bool byUser = false;
        connect(slider, &CRangeSlider::rangeChanged, [&](int part, int released) {
            notified << QStringLiteral("%1,%2").arg(part).arg(released);
            if (byUser && !InOrder())
                notified << "crossed";
        });
        for (const QString &action : actions.split(u';')) {
            const QStringList w = action.trimmed().split(u' ');
            const QKeyCombination key = QKeySequence::fromString(w.value(1))[0];
            byUser = w[0] != "range" && w[0] != "bounds";
            if (w[0] == "key")
                QTest::keyClick(slider, key.key(), key.keyboardModifiers());
            else if (w[0] == "range")
                slider->SetRange(w[1].toDouble(), w[2].toDouble());
            else if (w[0] == "bounds")
                slider->SetMinMax(w[1].toDouble(), w[2].toDouble());
            else
                Drag(w[0], w[1].toInt(), w.value(2).toInt());
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(InOrder());
        QTEST(QStringLiteral("%1 %2").arg(l, 0, 'g', 9).arg(r, 0, 'g', 9), "end");
        QTEST(notified.join(u' '), "notified");
        // Each thumb is painted at its value, the left one first, side by side when equal: the
        // row above the track shows the backdrop everywhere else.
        const QImage image = parent.grab().toImage();
        const int xl = Pixel(l), xr = Pixel(r) + 13;
        QString painted, thumbs;
        for (int x = 0; x < image.width(); ++x) {
            painted += image.pixelColor(x, 1) == Qt::magenta ? u'.' : u'#';
            thumbs += (x >= xl && x < xl + 13) || (x >= xr && x < xr + 13) ? u'#' : u'.';
        }
        QCOMPARE(painted, thumbs);
    }
};

QTEST_MAIN(TestRangeSlider)
#include "tst_rangeslider.moc"
