// SPDX-License-Identifier: GPL-3.0-or-later
// Trimming with the real range slider and previewing with the real preview: the thumbs are
// dragged with mouse events, the list's Begin and End cells follow live, and the preview
// jumps only when the mouse button is released.

#include "pagetesting.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

using namespace PageTesting;

namespace {

// The slider's thumbs are 13 pixels wide and travel over its width less both thumbs.
constexpr int thumb = 13;

void SendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestTrimPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void dragFollowsLiveAndPreviewsOnRelease_data();
    void dragFollowsLiveAndPreviewsOnRelease();
    void arrowKeysChangeTimesButNotPreview();
    void loadingNeverWritesTheTaskBack();
    void sliderWithoutTaskChangesNothing();
    void previewButtonsPlayAndPause();
    void previewButtonsNeedASelection();
    void unreadableClipLeavesPreviewAsItWas();

private:
    QTemporaryDir dir;
    QTemporaryDir settingsDir;
    QString clip; // 4 s
};

void TestTrimPreview::initTestCase()
{
    UseSettingsFolder(settingsDir.path());
    UseProgramFolder(dir.path(), {});
    clip = MakeClip(dir.path(), "trim me.mp4", 4.0);
    QVERIFY(!clip.isEmpty());
}

void TestTrimPreview::dragFollowsLiveAndPreviewsOnRelease_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<double>("begin");
    QTest::addColumn<double>("end");
    QTest::addColumn<bool>("previewsEnd");
    QTest::newRow("left thumb previews the begin") << "left" << 2.0 << 4.0 << false;
    QTest::newRow("right thumb previews the end") << "right" << 0.0 << 2.0 << true;
    QTest::newRow("middle bar previews the begin") << "middle" << 1.0 << 3.0 << false;
}

void TestTrimPreview::dragFollowsLiveAndPreviewsOnRelease()
{
    QFETCH(QString, part);
    QFETCH(double, begin);
    QFETCH(double, end);
    QFETCH(bool, previewsEnd);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({clip});
    CRangeSlider *slider = w.slider();
    const double length = w.page().Tasks().GetAt(0).endSeconds;
    QVERIFY(qAbs(length - 4.0) < 0.1);
    const int travel = slider->width() - 2 * thumb;
    const int y = slider->height() / 2;
    const auto pixels = [&](double seconds) { return int(seconds / length * travel + 0.5); };

    QPoint from, to;
    if (part == "left") {
        from = QPoint(thumb / 2, y);
        to = QPoint(thumb / 2 + pixels(begin), y);
    } else if (part == "right") {
        from = QPoint(travel + thumb + thumb / 2, y);
        to = QPoint(thumb + thumb / 2 + pixels(end), y);
    } else {
        // Narrow the range first with the right thumb, so that the band can be grabbed.
        const QPoint right(travel + thumb + thumb / 2, y);
        SendMouse(slider, QEvent::MouseButtonPress, right, Qt::LeftButton);
        SendMouse(slider, QEvent::MouseMove, QPoint(thumb + thumb / 2 + pixels(2.0), y),
                  Qt::LeftButton);
        SendMouse(slider, QEvent::MouseButtonRelease, right, Qt::NoButton);
        QVERIFY(qAbs(w.page().Tasks().GetAt(0).endSeconds - 2.0) < 0.05);
        from = QPoint(thumb + pixels(1.0), y);
        to = QPoint(thumb + pixels(2.0), y);
    }
    SendMouse(slider, QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseMove, to, Qt::LeftButton);

    // While dragging: the task and its cells follow, the preview shows key frames.
    double left = 0, right = 0;
    slider->GetRange(left, right);
    QVERIFY2(qAbs(left - begin) < 0.05, qPrintable(QString::number(left)));
    QVERIFY2(qAbs(right - end) < 0.05, qPrintable(QString::number(right)));
    ConversionTask task = w.page().Tasks().GetAt(0);
    QCOMPARE(task.beginSeconds, left);
    QCOMPARE(task.endSeconds, right);
    QCOMPARE(w.cell(0, 1), QStringLiteral("00:00:%1").arg(int(left), 2, 10, QLatin1Char('0')));
    QCOMPARE(w.cell(0, 2), QStringLiteral("00:00:%1").arg(int(right), 2, 10, QLatin1Char('0')));
    // The preview follows with the key frame at or before the dragged point (one a second).
    QCOMPARE(w.preview()->CurrentPosition(), std::floor((previewsEnd ? right : left) + 1e-6));

    SendMouse(slider, QEvent::MouseButtonRelease, to, Qt::NoButton);
    task = w.page().Tasks().GetAt(0);
    const double target = previewsEnd ? task.endSeconds : task.beginSeconds;
    QVERIFY2(qAbs(w.preview()->CurrentPosition() - target) < 0.07,
             qPrintable(QString::number(w.preview()->CurrentPosition())));
    QVERIFY(w.preview()->GetState() != CVideoEdit::State::Playing);
}

void TestTrimPreview::arrowKeysChangeTimesButNotPreview()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({clip});
    const double shown = w.preview()->CurrentPosition();
    w.slider()->setFocus();
    for (int i = 0; i < 60; ++i)
        QTest::keyClick(w.slider(), Qt::Key_Left, Qt::ShiftModifier);
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(w.slider(), Qt::Key_Right);
    const auto range = w.range();
    QVERIFY(range.first > 0.0);
    QVERIFY(range.second < w.slider()->GetMaximum());
    QCOMPARE(w.cell(0, 2), QStringLiteral("00:00:03"));
    const ConversionTask task = w.page().Tasks().GetAt(0);
    QCOMPARE(task.beginSeconds, range.first);
    QCOMPARE(task.endSeconds, range.second);
    QCOMPARE(w.preview()->CurrentPosition(), shown);
}

void TestTrimPreview::loadingNeverWritesTheTaskBack()
{
    Window w;
    w.add({clip, clip});
    // Times past the clip's end: the slider clamps and notifies, the task keeps its times.
    ConversionTask task = w.page().Tasks().GetAt(0);
    task.beginSeconds = 10.0;
    task.endSeconds = 20.0;
    w.page().Tasks().SetAt(0, task);
    QSignalSpy notified(w.slider(), &CRangeSlider::rangeChanged);
    w.page().LoadTask(0);
    QVERIFY(!notified.isEmpty());
    QCOMPARE(w.page().Tasks().GetAt(0).beginSeconds, 10.0);
    QCOMPARE(w.page().Tasks().GetAt(0).endSeconds, 20.0);
    // A begin past the clip's end is previewed at one second.
    QVERIFY(qAbs(w.preview()->CurrentPosition() - 1.0) < 0.07);
}

void TestTrimPreview::sliderWithoutTaskChangesNothing()
{
    Window w;
    w.slider()->setFocus();
    QTest::keyClick(w.slider(), Qt::Key_Right);
    QCOMPARE(w.page().Tasks().Count(), 0);
    QVERIFY(!w.preview()->IsOpen());
}

void TestTrimPreview::previewButtonsPlayAndPause()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.frame.get()));
    w.add({clip});
    QTest::mouseClick(w.item(1054), Qt::LeftButton);
    QCOMPARE(w.preview()->GetState(), CVideoEdit::State::Playing);
    QTRY_VERIFY(w.preview()->CurrentPosition() > 0.2);
    QTest::mouseClick(w.item(1055), Qt::LeftButton);
    QCOMPARE(w.preview()->GetState(), CVideoEdit::State::Paused);
    const double held = w.preview()->CurrentPosition();
    QTest::qWait(150);
    QCOMPARE(w.preview()->CurrentPosition(), held);
}

void TestTrimPreview::previewButtonsNeedASelection()
{
    Window w;
    QTest::mouseClick(w.item(1054), Qt::LeftButton);
    QTest::mouseClick(w.item(1055), Qt::LeftButton);
    QVERIFY(!w.preview()->IsOpen());
    w.add({clip});
    w.list()->SetSelectionMark(-1);
    QTest::mouseClick(w.item(1054), Qt::LeftButton);
    QVERIFY(w.preview()->GetState() != CVideoEdit::State::Playing);
}

void TestTrimPreview::unreadableClipLeavesPreviewAsItWas()
{
    Window w;
    w.add({clip});
    const QString copy = dir.filePath("vanishing.mp4");
    QVERIFY(QFile::copy(clip, copy));
    w.add({copy});
    w.clickRow(0);
    const double shown = w.preview()->CurrentPosition();
    const auto state = w.preview()->GetState();
    // The second file goes away under the page; selecting and previewing it must not throw
    // out of a handler, and a preview that cannot even measure it stays as it was.
    QVERIFY(QFile::remove(copy));
    w.list()->SetSelectionMark(1);
    QTest::mouseClick(w.item(1054), Qt::LeftButton);
    QCOMPARE(w.preview()->GetState(), state);
    QCOMPARE(w.preview()->CurrentPosition(), shown);
    QTest::mouseClick(w.item(1055), Qt::LeftButton);
    w.clickRow(1);
    QCOMPARE(w.page().CurrentTask(), 1);
}

QTEST_MAIN(TestTrimPreview)
#include "tst_trimpreview.moc"
