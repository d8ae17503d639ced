// SPDX-License-Identifier: GPL-3.0-or-later
#include "rangeslider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

// The page's slider: 228 pixels wide, so a thumb travels 202 pixels.
constexpr int kWidth = 228;
constexpr int kTravel = kWidth - 26;
constexpr int kRowAboveTrack = 1;
const QColor kBackdrop(255, 0, 255);

// One pixel step on 0..120 seconds.
constexpr double kStep = 120.0 / kTravel;

int Pixel(double v, double lo = 0.0, double hi = 120.0)
{
    return int((v - lo) / (hi - lo) * kTravel + 0.5);
}

// The notifications a spy saw, as "w,l w,l ..." so that tables read like the sequences.
QString Sequence(const QSignalSpy &spy)
{
    QStringList parts;
    for (const QList<QVariant> &args : spy)
        parts << QStringLiteral("%1,%2").arg(args.at(0).toInt()).arg(args.at(1).toInt());
    return parts.join(QLatin1Char(' '));
}

// A slider on a solid backdrop, so that what it paints is told apart from what it leaves.
struct Fixture {
    QWidget parent;
    CRangeSlider *slider;
    QSignalSpy *spy;

    Fixture(double lo = 0.0, double hi = 120.0, double l = 0.0, double r = 120.0)
    {
        parent.resize(kWidth, 17);
        QPalette palette;
        palette.setColor(QPalette::Window, kBackdrop);
        parent.setPalette(palette);
        parent.setAutoFillBackground(true);
        slider = new CRangeSlider(&parent);
        slider->setGeometry(0, 0, kWidth, 17);
        slider->SetMinMax(lo, hi);
        slider->SetRange(l, r);
        spy = new QSignalSpy(slider, &CRangeSlider::rangeChanged);
    }
    ~Fixture() { delete spy; }

    double Left() const
    {
        double l, r;
        slider->GetRange(l, r);
        return l;
    }
    double Right() const
    {
        double l, r;
        slider->GetRange(l, r);
        return r;
    }
    void Send(QEvent::Type type, int x, Qt::MouseButtons held, int y = 8)
    {
        const QPointF pos(x, y);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, slider->mapToGlobal(pos), button, held, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    }
    void Press(int x) { Send(QEvent::MouseButtonPress, x, Qt::LeftButton); }
    void Move(int x) { Send(QEvent::MouseMove, x, Qt::LeftButton); }
    void Release(int x) { Send(QEvent::MouseButtonRelease, x, Qt::NoButton); }
    void Drag(int from, int to)
    {
        Press(from);
        Move(to);
        Release(to);
    }
    // Columns of the row above the track that differ from the backdrop: only thumbs are there.
    QList<int> PaintedColumns()
    {
        const QImage image = parent.grab().toImage();
        QList<int> columns;
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, kRowAboveTrack) != kBackdrop)
                columns << x;
        return columns;
    }
};

QList<int> Columns(int from, int count)
{
    QList<int> columns;
    for (int i = 0; i < count; ++i)
        columns << from + i;
    return columns;
}

} // namespace

class TestRangeSlider : public QObject
{
    Q_OBJECT

private slots:
    void setMinMaxTakesTheOrderedPair_data()
    {
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::newRow("ascending") << 0.0 << 120.0 << 0.0 << 120.0;
        QTest::newRow("descending") << 10.0 << 2.0 << 2.0 << 10.0;
        QTest::newRow("equal") << 5.0 << 5.0 << 5.0 << 5.0;
    }
    void setMinMaxTakesTheOrderedPair()
    {
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        CRangeSlider slider;
        slider.SetMinMax(a, b);
        QCOMPARE(slider.GetMinimum(), minimum);
        QCOMPARE(slider.GetMaximum(), maximum);
    }

    void clampingNotifiesInOrder_data()
    {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<double>("l");
        QTest::addColumn<double>("r");
        QTest::addColumn<QString>("call");
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<QString>("sequence");
        QTest::newRow("range inside the bounds is silent")
            << 0.0 << 120.0 << 0.0 << 120.0 << "range" << 0.0 << 120.0 << 0.0 << 120.0 << "";
        QTest::newRow("range beyond both ends") << 0.0 << 120.0 << 0.0 << 120.0 << "range" << -1.0
                                                << 200.0 << 0.0 << 120.0 << "0,0 1,0";
        QTest::newRow("both below the minimum")
            << 0.0 << 120.0 << 0.0 << 120.0 << "range" << -5.0 << -10.0 << 0.0 << 0.0 << "0,0 1,0";
        QTest::newRow("both above the maximum") << 0.0 << 120.0 << 0.0 << 120.0 << "range" << 130.0
                                                << 200.0 << 120.0 << 120.0 << "1,0 0,0";
        QTest::newRow("reversed pair inside the bounds stays reversed")
            << 0.0 << 10.0 << 0.0 << 10.0 << "range" << 5.0 << 3.0 << 5.0 << 3.0 << "";
        QTest::newRow("reversed pair with right below the minimum stays")
            << 0.0 << 10.0 << 0.0 << 10.0 << "range" << 5.0 << -3.0 << 5.0 << -3.0 << "";
        QTest::newRow("bounds shrinking inside the range")
            << 0.0 << 120.0 << 30.0 << 50.0 << "minmax" << 45.0 << 40.0 << 40.0 << 45.0
            << "0,0 1,0";
        QTest::newRow("bounds moving past the range") << 0.0 << 120.0 << 30.0 << 50.0 << "minmax"
                                                      << 60.0 << 70.0 << 60.0 << 60.0 << "0,0 1,0";
        QTest::newRow("bounds growing are silent")
            << 0.0 << 120.0 << 30.0 << 50.0 << "minmax" << -10.0 << 500.0 << 30.0 << 50.0 << "";
    }
    void clampingNotifiesInOrder()
    {
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(double, l);
        QFETCH(double, r);
        QFETCH(QString, call);
        QFETCH(double, a);
        QFETCH(double, b);
        Fixture f(lo, hi, l, r);
        if (call == QLatin1String("range"))
            f.slider->SetRange(a, b);
        else
            f.slider->SetMinMax(a, b);
        QTEST(f.Left(), "left");
        QTEST(f.Right(), "right");
        QTEST(Sequence(*f.spy), "sequence");
    }

    void freshSliderTakesThePagesRangeSilently()
    {
        CRangeSlider slider;
        QSignalSpy spy(&slider, &CRangeSlider::rangeChanged);
        slider.SetMinMax(0, 120);
        slider.SetRange(0, 120);
        QCOMPARE(spy.count(), 0);
    }

    void notificationArrivesBeforeTheCallReturns()
    {
        CRangeSlider slider;
        slider.SetMinMax(0, 120);
        double seenLeft = -1;
        connect(&slider, &CRangeSlider::rangeChanged, &slider, [&](int, int) {
            double l, r;
            slider.GetRange(l, r);
            seenLeft = l;
        });
        slider.SetRange(-4, 50);
        QCOMPARE(seenLeft, 0.0);
    }

    // Positions are given as offsets from the grabbed thumb's centre, or absolute.
    void drags_data()
    {
        QTest::addColumn<double>("l");
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("part"); // 0 left thumb, 1 right thumb, 2 middle, -1 free track
        QTest::addColumn<int>("to");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<QString>("sequence");
        QTest::newRow("left thumb past the right one stops at right")
            << 30.0 << 50.0 << 0 << 400 << 50.0 << 50.0 << "0,0 0,1";
        QTest::newRow("left thumb below the minimum stops at minimum")
            << 30.0 << 50.0 << 0 << -400 << 0.0 << 50.0 << "0,0 0,1";
        QTest::newRow("right thumb below the left one stops at left")
            << 30.0 << 50.0 << 1 << -400 << 30.0 << 30.0 << "1,0 1,1";
        QTest::newRow("right thumb held at the maximum reports no change")
            << 30.0 << 120.0 << 1 << 400 << 30.0 << 120.0 << "0,0 1,1";
        QTest::newRow("middle bar against the left end keeps the width")
            << 30.0 << 50.0 << 2 << -400 << 0.0 << 20.0 << "2,0 2,1";
        QTest::newRow("middle bar against the right end keeps the width")
            << 30.0 << 50.0 << 2 << 400 << 100.0 << 120.0 << "2,0 2,1";
        QTest::newRow("press on the free track starts nothing")
            << 30.0 << 50.0 << -1 << 100 << 30.0 << 50.0 << "";
    }
    void drags()
    {
        QFETCH(double, l);
        QFETCH(double, r);
        QFETCH(int, part);
        QFETCH(int, to);
        Fixture f(0, 120, l, r);
        const int xl = Pixel(l), xr = Pixel(r);
        const int press[] = {xl + 6, xr + 19, (xl + 13 + xr + 13) / 2};
        f.Drag(part < 0 ? 2 : press[part], to);
        QTEST(f.Left(), "left");
        QTEST(f.Right(), "right");
        QTEST(Sequence(*f.spy), "sequence");
    }

    void everyMoveNotifiesEvenWithoutChange()
    {
        Fixture f(0, 120, 30, 50);
        const int centre = Pixel(30) + 6;
        f.Press(centre);
        f.Move(centre);
        f.Move(centre);
        f.Release(centre);
        QCOMPARE(Sequence(*f.spy), QStringLiteral("0,0 0,0 0,1"));
    }

    void offCentreGrabDoesNotJump_data()
    {
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("offset");
        QTest::newRow("left thumb near its left edge") << 0 << -5;
        QTest::newRow("left thumb near its right edge") << 0 << 5;
        QTest::newRow("right thumb near its right edge") << 1 << 6;
        QTest::newRow("middle bar near the left thumb") << 2 << -20;
    }
    void offCentreGrabDoesNotJump()
    {
        QFETCH(int, part);
        QFETCH(int, offset);
        Fixture f(0, 120, Pixel(30) * kStep, Pixel(80) * kStep);
        const double l = f.Left(), r = f.Right();
        const int centres[] = {Pixel(l) + 6, Pixel(r) + 19, (Pixel(l) + Pixel(r) + 26) / 2};
        const int at = centres[part] + offset;
        f.Press(at);
        f.Move(at);
        QVERIFY(std::abs(f.Left() - l) < 1e-9);
        QVERIFY(std::abs(f.Right() - r) < 1e-9);
        f.Move(at + 10); // ten pixels later the grabbed part is ten steps further
        const double moved = part == 1 ? f.Right() - r : f.Left() - l;
        QVERIFY2(std::abs(moved - 10 * kStep) < 1e-9, qPrintable(QString::number(moved)));
        f.Release(at + 10);
    }

    void pressDuringADragIsIgnored()
    {
        Fixture f(0, 120, 30, 50);
        f.Press(Pixel(30) + 6);
        f.Press(Pixel(50) + 19); // right thumb: would be part 1 if it started a drag
        f.Move(0);
        f.Release(0);
        QCOMPARE(Sequence(*f.spy), QStringLiteral("0,0 0,1"));
        QCOMPARE(f.Left(), 0.0);
        QCOMPARE(f.Right(), 50.0);
    }

    void doubleClickStartsNoDrag()
    {
        Fixture f(0, 120, 30, 50);
        const int centre = Pixel(30) + 6;
        f.Press(centre);
        f.Release(centre);
        f.spy->clear();
        f.Send(QEvent::MouseButtonDblClick, centre, Qt::LeftButton);
        f.Move(0);
        f.Release(0);
        QCOMPARE(Sequence(*f.spy), QString());
        QCOMPARE(f.Left(), 30.0);
    }

    void otherButtonsStartNoDrag()
    {
        Fixture f(0, 120, 30, 50);
        const QPointF at(Pixel(30) + 6, 8);
        QMouseEvent press(QEvent::MouseButtonPress, at, f.slider->mapToGlobal(at), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(f.slider, &press);
        f.Move(0);
        QCOMPARE(f.spy->count(), 0);
    }

    void keys_data()
    {
        QTest::addColumn<double>("l");
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("leftStep"); // expected pixel steps; -1 means unchanged
        QTest::addColumn<int>("rightStep");
        QTest::addColumn<QString>("sequence");
        const int none = Qt::NoModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
        // 31 s is 52.18 steps and 50 s is 84.17 steps: both snap to their nearest step first.
        QTest::newRow("left moves both one step below their nearest step")
            << 31.0 << 50.0 << int(Qt::Key_Left) << none << 51 << 83 << "2,0";
        QTest::newRow("right moves both one step above their nearest step")
            << 31.0 << 50.0 << int(Qt::Key_Right) << none << 53 << 85 << "2,0";
        QTest::newRow("left at the minimum is refused and still reported")
            << 0.0 << 50.0 << int(Qt::Key_Left) << none << -1 << -1 << "2,0";
        QTest::newRow("right at the maximum is refused and still reported")
            << 31.0 << 120.0 << int(Qt::Key_Right) << none << -1 << -1 << "2,0";
        QTest::newRow("shift right moves the right end and snaps the left")
            << 31.0 << 50.0 << int(Qt::Key_Right) << shift << 52 << 85 << "0,0";
        QTest::newRow("shift left moves the right end down")
            << 31.0 << 50.0 << int(Qt::Key_Left) << shift << 52 << 83 << "0,0";
        QTest::newRow("shift left may bring the ends together")
            << 31.0 << 31.5 << int(Qt::Key_Left) << shift << 52 << 52 << "0,0";
        QTest::newRow("shift left never takes the right end below the left")
            << 31.0 << 31.0 << int(Qt::Key_Left) << shift << -1 << -1 << "0,0";
        QTest::newRow("ctrl left does nothing")
            << 30.0 << 50.0 << int(Qt::Key_Left) << ctrl << -1 << -1 << "";
        QTest::newRow("ctrl shift right does nothing")
            << 30.0 << 50.0 << int(Qt::Key_Right) << (ctrl | shift) << -1 << -1 << "";
        QTest::newRow("up does nothing")
            << 30.0 << 50.0 << int(Qt::Key_Up) << none << -1 << -1 << "";
    }
    void keys()
    {
        QFETCH(double, l);
        QFETCH(double, r);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, leftStep);
        QFETCH(int, rightStep);
        Fixture f(0, 120, l, r);
        QTest::keyClick(f.slider, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.Left(), leftStep < 0 ? l : leftStep * kStep + 0.0);
        QCOMPARE(f.Right(), rightStep < 0 ? r : rightStep * kStep + 0.0);
        QTEST(Sequence(*f.spy), "sequence");
    }

    void keysReachTheFocusedSliderInAWindow()
    {
        Fixture f(0, 120, 30, 50);
        f.parent.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.parent));
        QCOMPARE(f.slider->focusPolicy(), Qt::StrongFocus);
        f.Press(2); // a press on the free track still takes the focus
        f.Release(2);
        QVERIFY(f.slider->hasFocus());
        QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Right); // to the focus
        QCOMPARE(Sequence(*f.spy), QStringLiteral("2,0"));
    }

    void zeroSpanDividesByNothing()
    {
        Fixture f(5, 5, 5, 5);
        QTest::keyClick(f.slider, Qt::Key_Right);
        QCOMPARE(f.spy->count(), 0); // no pixel step exists
        f.Drag(19, 200);             // right thumb
        f.Drag(6, 200);              // left thumb
        QCOMPARE(f.Left(), 5.0);
        QCOMPARE(f.Right(), 5.0);
        QCOMPARE(f.PaintedColumns(), Columns(0, 26));
    }

    void tooNarrowToMoveKeepsItsValues()
    {
        Fixture f(0, 120, 30, 50);
        f.slider->resize(20, 17);
        f.Drag(6, 15);
        QTest::keyClick(f.slider, Qt::Key_Left);
        QCOMPARE(f.Left(), 30.0);
        QCOMPARE(f.Right(), 50.0);
        QCOMPARE(Sequence(*f.spy), QStringLiteral("0,0 0,1"));
        f.parent.grab(); // painting with no travel must not fault
    }

    void geometryIsKnownBeforeTheFirstPaint()
    {
        CRangeSlider slider; // never shown, never painted
        slider.resize(kWidth, 17);
        slider.SetMinMax(0, 120);
        slider.SetRange(31, 50);
        QSignalSpy spy(&slider, &CRangeSlider::rangeChanged);
        QTest::keyClick(&slider, Qt::Key_Right);
        double l, r;
        slider.GetRange(l, r);
        QCOMPARE(l, 53 * kStep);
        const QPointF at(Pixel(l) + 6, 8);
        QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&slider, &press);
        QCOMPARE(Sequence(spy), QStringLiteral("2,0"));
        QMouseEvent move(QEvent::MouseMove, at + QPointF(10, 0), at, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        slider.GetRange(l, r);
        QVERIFY(std::abs(l - 63 * kStep) < 1e-9);
    }

    void thumbsArePaintedAtTheirPixels_data()
    {
        QTest::addColumn<double>("l");
        QTest::addColumn<double>("r");
        QTest::newRow("a range inside") << 30.0 << 50.0;
        QTest::newRow("the whole clip") << 0.0 << 120.0;
        QTest::newRow("equal ends sit side by side") << 60.0 << 60.0;
    }
    void thumbsArePaintedAtTheirPixels()
    {
        QFETCH(double, l);
        QFETCH(double, r);
        Fixture f(0, 120, l, r);
        const int xl = Pixel(l), xr = Pixel(r);
        QCOMPARE(f.PaintedColumns(), Columns(xl, 13) + Columns(xr + 13, 13));
    }

    void paintingFollowsADrag()
    {
        Fixture f(0, 120, 30, 50);
        f.Drag(Pixel(50) + 19, -400); // right thumb onto the left one
        QCOMPARE(f.PaintedColumns(), Columns(Pixel(30), 26));
    }

    void trackAndBandUseTheirSkins()
    {
        Fixture f(0, 120, 30, 90);
        const QImage image = f.parent.grab().toImage();
        const QImage band(QStringLiteral(":/bitmaps/215.png"));
        const QImage track(QStringLiteral(":/bitmaps/212.png"));
        QVERIFY(!band.isNull() && !track.isNull());
        // The band runs between the thumbs and covers the facing column of each.
        const int columns[] = {Pixel(30) + 12, (Pixel(30) + Pixel(90)) / 2 + 13, Pixel(90) + 13};
        for (int x : columns)
            for (int row = 0; row < 7; ++row)
                QCOMPARE(image.pixelColor(x, 5 + row), band.pixelColor(1, row));
        QVERIFY(image.pixelColor(Pixel(30) + 11, 5) != band.pixelColor(1, 0));
        QVERIFY(image.pixelColor(Pixel(90) + 14, 5) != band.pixelColor(1, 0));
        // The track is stretched over the whole width and covers rows 3 to 13.
        QCOMPARE(image.pixelColor(kWidth - 1, 3 + 5), track.pixelColor(3, 5));
        QCOMPARE(image.pixelColor(0, 3 + 5), track.pixelColor(0, 5));
    }
};

QTEST_MAIN(TestRangeSlider)
#include "tst_rangeslider.moc"
