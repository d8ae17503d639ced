// SPDX-License-Identifier: GPL-3.0-or-later
#include "fadeinpicture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

const QColor green(0, 128, 0);

// A 30 x 20 picture: left half red, right half blue, saved as PNG.
QImage MakePicture()
{
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 15; ++x)
            image.setPixelColor(x, y, Qt::red);
    return image;
}

struct PictureWindow {
    QTemporaryDir dir;
    QString path;
    QWidget window;
    CFadeInPicture *picture;

    PictureWindow()
    {
        path = dir.filePath(QStringLiteral("picture.png"));
        MakePicture().save(path);
        window.setAutoFillBackground(true);
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, green);
        window.setPalette(pal);
        picture = new CFadeInPicture(&window);
        picture->setGeometry(10, 10, 50, 50);
        window.resize(100, 100);
        window.show();
    }
    bool Ready() { return QTest::qWaitForWindowExposed(&window); }
    QImage Shown() { return window.grab().toImage().copy(QRect(10, 10, 30, 20)); }
};

} // namespace

class TestFadeInPicture : public QObject
{
    Q_OBJECT
private slots:
    void endsAsThePicture();
    void startsFromWhatWasBehind();
    void stepsAccumulate();
    void unreadableBitmap_data();
    void unreadableBitmap();
    void shippedPicture();
};

void TestFadeInPicture::endsAsThePicture()
{
    PictureWindow w;
    QVERIFY(w.Ready());
    QSignalSpy finished(w.picture, &CFadeInPicture::fadeFinished);
    QVERIFY(w.picture->FadeIn(w.path, 1));
    QCOMPARE(w.picture->size(), QSize(30, 20)); // the picture's size, whatever it had
    QCOMPARE(w.picture->GetStepDelay(), 1);
    QVERIFY(finished.wait(5000));
    QVERIFY(w.picture->IsFadeDone());
    QCOMPARE(w.picture->GetStepsDone(), CFadeInPicture::StepCount);
    QCOMPARE(w.Shown(), MakePicture().convertToFormat(w.Shown().format()));
    // Later repaints show the whole picture.
    w.picture->update();
    QCoreApplication::processEvents();
    QCOMPARE(w.picture->grab().toImage().pixelColor(20, 10), QColor(Qt::blue));
}

void TestFadeInPicture::startsFromWhatWasBehind()
{
    PictureWindow w;
    QVERIFY(w.Ready());
    QVERIFY(w.picture->FadeIn(w.path, 60000));
    QTRY_COMPARE(w.picture->GetStepsDone(), 1);
    // Alpha 0: nothing of the picture yet, the window's own background shows.
    QCOMPARE(w.Shown().pixelColor(5, 5), green);
    QCOMPARE(w.Shown().pixelColor(25, 15), green);
    QVERIFY(!w.picture->IsFadeDone());
    // Destroyed in the middle of the fade: its timer goes with it.
    delete w.picture;
    QTest::qWait(20);
    QCOMPARE(w.Shown().pixelColor(5, 5), green);
}

void TestFadeInPicture::stepsAccumulate()
{
    PictureWindow w;
    QVERIFY(w.Ready());
    QVERIFY(w.picture->FadeIn(w.path, 15));
    QTRY_VERIFY(w.picture->GetStepsDone() >= 10);
    const int steps = w.picture->GetStepsDone();
    const QColor shown = w.Shown().pixelColor(5, 5);
    // Each step blends over the last: what is left of the background is the product of
    // (1 - alpha / 255) over the steps so far.
    double left = 1.0;
    for (int i = 0; i < steps; ++i)
        left *= 1.0 - (5.0 * i) / 255.0;
    const double red = 255.0 * (1.0 - left);
    const double greenLeft = 128.0 * left;
    QVERIFY2(std::abs(shown.red() - red) <= 4,
             qPrintable(QStringLiteral("red %1, expected %2").arg(shown.red()).arg(red)));
    QVERIFY2(std::abs(shown.green() - greenLeft) <= 4,
             qPrintable(QStringLiteral("green %1, expected %2").arg(shown.green()).arg(greenLeft)));
}

void TestFadeInPicture::unreadableBitmap_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("resource id that does not exist") << "id";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("file that is no image") << "text";
}

void TestFadeInPicture::unreadableBitmap()
{
    QFETCH(QString, kind);
    PictureWindow w;
    QVERIFY(w.Ready());
    bool started = true;
    if (kind == "id") {
        started = w.picture->FadeIn(64999, 1);
    } else if (kind == "missing") {
        started = w.picture->FadeIn(w.dir.filePath(QStringLiteral("none.png")), 1);
    } else {
        QFile text(w.dir.filePath(QStringLiteral("notes.png")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        started = w.picture->FadeIn(text.fileName(), 1);
    }
    QVERIFY(!started);
    QCOMPARE(w.picture->size(), QSize(50, 50));
    QTest::qWait(30);
    QCOMPARE(w.picture->GetStepsDone(), 0);
    QVERIFY(!w.picture->IsFadeDone());
    const QImage shown = w.window.grab().toImage();
    for (const QPoint p : {QPoint(12, 12), QPoint(40, 30), QPoint(58, 58)})
        QCOMPARE(shown.pixelColor(p), green);
}

void TestFadeInPicture::shippedPicture()
{
    if (!QFile::exists(QStringLiteral(":/bitmaps/190.png")))
        QSKIP("the bitmap resources are not built in");
    PictureWindow w;
    QVERIFY(w.Ready());
    QSignalSpy finished(w.picture, &CFadeInPicture::fadeFinished);
    QVERIFY(w.picture->FadeIn(190, 0));
    QCOMPARE(w.picture->GetBitmapId(), 190);
    QCOMPARE(w.picture->size(), QSize(264, 200));
    QVERIFY(finished.wait(5000));
}

QTEST_MAIN(TestFadeInPicture)
#include "tst_fadeinpicture.moc"
