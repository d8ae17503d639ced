// SPDX-License-Identifier: GPL-3.0-or-later
// The painted controls of the window (image buttons, the fading picture) and the artwork that
// they and the window load.
#include "fadeinpicture.h"
#include "imagebutton.h"

#include "../../src/page/pageconstants.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

// Enabled, what the mouse does and where (the button's centre is at 40, 40), the colour shown
// there (red: the hover picture, blue: the normal one, grey: a greyed one), clicks delivered.
using Button = std::tuple<bool, QTest::MouseAction, QPoint, QColor, int>;
Q_DECLARE_METATYPE(Button)

class TestControls : public QObject
{
    Q_OBJECT
private slots:
    void imageButton_data()
    {
        QTest::addColumn<Button>("b");
        const QColor red(Qt::red), blue(Qt::blue), grey(Qt::gray);
        const QPoint at(40, 40), corner(1, 1);
        const auto move = QTest::MouseMove, click = QTest::MouseClick, twice = QTest::MouseDClick;
        QTest::newRow("at rest: the normal picture") << Button{1, move, corner, blue, 0};
        QTest::newRow("under the mouse: the hover picture") << Button{1, move, at, red, 0};
        QTest::newRow("a click is delivered") << Button{1, click, at, red, 1};
        QTest::newRow("two quick clicks are two clicks") << Button{1, twice, at, red, 2};
        QTest::newRow("disabled: a click is not delivered") << Button{0, click, at, grey, 0};
        // Last, as the button stays held down.
        QTest::newRow("held down: the hover picture") << Button{1, QTest::MousePress, at, red, 0};
    }
    void imageButton()
    {
        QFETCH(Button, b);
        const auto [enabled, action, where, shown, clicks] = b;
        QWidget window;
        auto *button = new CImageButton(&window);
        button->setGeometry(10, 10, 60, 60);
        QPixmap hover(32, 32), normal(32, 32);
        hover.fill(Qt::red);
        normal.fill(Qt::blue);
        button->SetIconHandles(QIcon(hover), QIcon(normal));
        button->setEnabled(enabled);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        QTest::mouseMove(window.windowHandle(), QPoint(1, 1)); // comes in from the window's corner
        QTest::mouseEvent(action, window.windowHandle(), Qt::LeftButton, {}, where);
        QCOMPARE(clicked.count(), clicks);
        const QColor drawn = window.grab().toImage().pixelColor(40, 40);
        QVERIFY(shown == Qt::gray ? drawn.saturation() < 40 && drawn.value() > 40 : drawn == shown);
    }

    void fadeInPicture()
    {
        QWidget window;
        auto *picture = new CFadeInPicture(&window);
        QVERIFY(!picture->FadeIn(1, 0)); // no such picture
        QVERIFY(picture->FadeIn(Page::pictureBitmap, 60000));
        window.show();
        // The first step draws the picture fully transparent: only what was behind shows.
        QTRY_COMPARE(picture->GetStepsDone(), 1);
        const QColor behind = window.palette().color(QPalette::Window);
        QCOMPARE(window.grab(picture->geometry()).toImage().pixelColor(0, 0), behind);
        QSignalSpy finished(picture, &CFadeInPicture::fadeFinished);
        QVERIFY(picture->FadeIn(Page::pictureBitmap, 0) && finished.wait(5000));
        const QImage expected(QStringLiteral(":/bitmaps/%1.png").arg(Page::pictureBitmap));
        QCOMPARE(picture->grab().toImage().convertToFormat(expected.format()), expected);
    }

    // Every picture of the resource, and every one the page asks for by number, loads and has a
    // copy twice as large beside it ("<name>@2x.png"); the icon's fixed sizes have none.
    void artwork()
    {
        QStringList pictures;
        for (const char *folder : {":/icons", ":/bitmaps", ":/skin"})
            for (const QString &name : QDir(folder).entryList({"*.png"}))
                if (!name.contains("@2x") && !name.contains('-'))
                    pictures << folder + QStringLiteral("/") + name;
        const auto icon = [](int id) { return QStringLiteral(":/icons/%1.png").arg(id); };
        for (const Page::ImageButtonSetup &b : Page::imageButtons)
            pictures << icon(b.hoverIcon) << icon(b.normalIcon);
        for (int id : {Page::backgroundBitmap, Page::pictureBitmap})
            pictures << QStringLiteral(":/bitmaps/%1.png").arg(id);
        for (const QString &path : pictures) {
            const QImage once(path), twice(QString(path).replace(".png", "@2x.png"));
            QVERIFY2(!once.isNull() && twice.size() == once.size() * 2, qPrintable(path));
        }
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
