// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagebutton.h"
#include "syscolors.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

const QColor green(0, 128, 0);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);

QIcon SolidIcon(int w, int h, const QColor &colour)
{
    QPixmap pixmap(w, h);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// A green window holding a 42 x 42 button with a red hover and a blue normal icon of
// 37 x 20, set up like the page's buttons: transparent, no border, icon above the title.
struct ButtonWindow {
    QWidget window;
    CImageButton *button;
    QLineEdit *before;
    QLineEdit *after;

    explicit ButtonWindow(int style = BS_PUSHBUTTON)
    {
        window.setAutoFillBackground(true);
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, green);
        window.setPalette(pal);
        before = new QLineEdit(&window);
        before->setGeometry(0, 100, 80, 20);
        button = new CImageButton(&window, style);
        button->setGeometry(10, 10, 42, 42);
        after = new QLineEdit(&window);
        after->setGeometry(0, 130, 80, 20);
        button->SetIconHandles(SolidIcon(37, 20, red), SolidIcon(37, 20, blue));
        button->DrawTransparent(false);
        button->SetDrawBorder(false, true);
        button->SetAlign(1, true);
        window.resize(200, 200);
        window.show();
        window.activateWindow();
    }
    bool Ready() { return QTest::qWaitForWindowActive(&window); }
    // Moves the mouse onto the button from afar, so that a move really happens.
    void Hover()
    {
        QTest::mouseMove(&window, QPoint(190, 190));
        QTest::mouseMove(button, button->rect().center());
    }
    // What the window shows at a point of the button.
    QRgb At(int x, int y) { return window.grab().toImage().pixel(button->pos() + QPoint(x, y)); }
};

} // namespace

class TestImageButton : public QObject
{
    Q_OBJECT
private slots:
    void drawingSize_data();
    void drawingSize();
    void setterResults_data();
    void setterResults();
    void iconChoice_data();
    void iconChoice();
    void noHoverWhenPressedElsewhere();
    void hoverEndsWhenTheMouseLeaves();
    void twoQuickClicksAreTwoClicks();
    void disablingMovesTheFocus_data();
    void disablingMovesTheFocus();
    void checkBoxMode();
    void defaultButton();
    void greyIcon_data();
    void greyIcon();
    void greyNormalIconIsDrawn();
    void missingIconResources();
    void shippedIcons_data();
    void shippedIcons();
    void systemColourChangeRestoresColours();
    void tooltip();
};

void TestImageButton::drawingSize_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QSize>("drawn");
    QTest::newRow("odd width loses a column") << QSize(37, 20) << QSize(36, 20);
    QTest::newRow("odd both ways") << QSize(37, 21) << QSize(36, 20);
    QTest::newRow("small square") << QSize(17, 17) << QSize(16, 16);
    QTest::newRow("start button") << QSize(102, 63) << QSize(102, 62);
    QTest::newRow("even size kept") << QSize(32, 32) << QSize(32, 32);
}

void TestImageButton::drawingSize()
{
    QFETCH(QSize, image);
    QFETCH(QSize, drawn);
    CImageButton button;
    QCOMPARE(button.SetIconHandles(SolidIcon(image.width(), image.height(), red)), 0);
    QCOMPARE(button.GetHoverIconSize(), drawn);
    QVERIFY(!button.HasNormalIcon());
}

void TestImageButton::setterResults_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("result");

    QTest::newRow("align 3 accepted") << "align" << 3 << 0;
    QTest::newRow("align 4 rejected") << "align" << 4 << 4;
    QTest::newRow("negative align rejected") << "align" << -1 << 4;
    QTest::newRow("pressed style 1 accepted") << "pressed" << 1 << 0;
    QTest::newRow("pressed style 2 rejected") << "pressed" << 2 << 6;
    QTest::newRow("colour index 5 accepted") << "colour" << 5 << 0;
    QTest::newRow("colour index 6 rejected") << "colour" << 6 << 3;
}

void TestImageButton::setterResults()
{
    QFETCH(QString, setter);
    QFETCH(int, value);
    QFETCH(int, result);
    CImageButton button;
    if (setter == "align") {
        QCOMPARE(button.SetAlign(value, true), result);
        QCOMPARE(button.GetAlign(), result == 0 ? value : 0);
    } else if (setter == "pressed") {
        QCOMPARE(button.SetPressedStyle(value, true), result);
        QCOMPARE(button.GetPressOffset(), result == 0 ? QPoint(0, 2) : QPoint(1, 1));
    } else {
        const COLORREF before = button.GetColor(value);
        QCOMPARE(button.SetColor(value, 0x00614231, true), result);
        QCOMPARE(button.GetColor(value), result == 0 ? COLORREF(0x00614231) : before);
    }
}

void TestImageButton::iconChoice_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QPoint>("iconAt"); // top-left of the icon inside the button
    QTest::addColumn<QColor>("colour");

    // A 36 x 20 icon centred in 42 x 42 sits at (3, 11).
    QTest::newRow("normal icon at rest") << "rest" << QPoint(3, 11) << blue;
    QTest::newRow("hover icon under the mouse") << "hover" << QPoint(3, 11) << red;
    QTest::newRow("pressed: hover icon moved by one") << "pressed" << QPoint(4, 12) << red;
    QTest::newRow("pressed style 1 moves down by two") << "pressed1" << QPoint(3, 13) << red;
    QTest::newRow("no normal icon shows the hover icon") << "hoverOnly" << QPoint(3, 11) << red;
    QTest::newRow("align 0 with a title: icon at the margin") << "titled" << QPoint(3, 11) << blue;
    QTest::newRow("align 3: icon at the corner") << "corner" << QPoint(0, 0) << blue;
}

void TestImageButton::iconChoice()
{
    QFETCH(QString, state);
    QFETCH(QPoint, iconAt);
    QFETCH(QColor, colour);

    ButtonWindow w;
    QVERIFY(w.Ready());
    CImageButton *b = w.button;
    const QPoint centre = b->rect().center();
    if (state == "hover") {
        w.Hover();
        QTRY_VERIFY(b->IsHovering());
    } else if (state == "pressed" || state == "pressed1") {
        if (state == "pressed1")
            b->SetPressedStyle(1, true);
        QTest::mousePress(b, Qt::LeftButton, {}, centre);
    } else if (state == "hoverOnly") {
        b->SetIconHandles(SolidIcon(37, 20, red), QIcon());
    } else if (state == "titled") {
        b->SetAlign(0, false);
        b->setText(QStringLiteral("Go"));
    } else if (state == "corner") {
        b->SetAlign(3, true);
    }
    QCOMPARE(w.At(iconAt.x(), iconAt.y()), colour.rgb());
    QCOMPARE(w.At(iconAt.x() + 35, iconAt.y() + 19), colour.rgb());
    if (state == "titled")
        return;
    // Just outside the drawn icon the parent's background shows through.
    QCOMPARE(w.At(iconAt.x() + 36, iconAt.y() + 5), green.rgb());
    QCOMPARE(w.At(iconAt.x() + 5, iconAt.y() + 20), green.rgb());
    if (state.startsWith("pressed"))
        QTest::mouseRelease(b, Qt::LeftButton, {}, centre);
}

void TestImageButton::noHoverWhenPressedElsewhere()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    CImageButton *b = w.button;
    // The left button went down elsewhere and is still held as the mouse arrives.
    QMouseEvent held(QEvent::MouseMove, QPointF(b->rect().center()),
                     b->mapToGlobal(QPointF(b->rect().center())), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(b, &held);
    QVERIFY(!b->IsHovering());
    QCOMPARE(w.At(3, 11), blue.rgb());
    w.Hover();
    QTRY_VERIFY(b->IsHovering());
    QCOMPARE(w.At(3, 11), red.rgb());
}

void TestImageButton::hoverEndsWhenTheMouseLeaves()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    CImageButton *b = w.button;
    w.Hover();
    QTRY_VERIFY(b->IsHovering());
    QTest::mouseMove(&w.window, QPoint(150, 150));
    QTRY_VERIFY(!b->IsHovering());
    QCOMPARE(w.At(3, 11), blue.rgb());
    // Losing the focus ends hovering too.
    w.Hover();
    QTRY_VERIFY(b->IsHovering());
    b->setFocus();
    w.after->setFocus();
    QTRY_VERIFY(!b->IsHovering());
}

void TestImageButton::twoQuickClicksAreTwoClicks()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    QSignalSpy clicked(w.button, &QAbstractButton::clicked);
    const QPoint at = w.button->mapTo(&w.window, w.button->rect().center());
    QTest::mouseDClick(w.window.windowHandle(), Qt::LeftButton, {}, at);
    QCOMPARE(clicked.count(), 2);
    QVERIFY(w.button->hasFocus());
}

void TestImageButton::disablingMovesTheFocus_data()
{
    QTest::addColumn<bool>("buttonHasFocus");
    QTest::addColumn<bool>("nextTabStop");
    QTest::newRow("focus on the button goes to the next tab stop") << true << true;
    QTest::newRow("focus elsewhere still goes to the next tab stop") << false << true;
    QTest::newRow("no tab stop left: the parent takes it") << false << false;
}

void TestImageButton::disablingMovesTheFocus()
{
    QFETCH(bool, buttonHasFocus);
    QFETCH(bool, nextTabStop);
    ButtonWindow w;
    QVERIFY(w.Ready());
    if (!nextTabStop) {
        w.before->setFocusPolicy(Qt::ClickFocus);
        w.after->setFocusPolicy(Qt::ClickFocus);
    }
    QWidget *start = buttonHasFocus ? static_cast<QWidget *>(w.button) : w.before;
    start->setFocus();
    QTRY_VERIFY(start->hasFocus());
    w.Hover();
    QTRY_VERIFY(w.button->IsHovering());
    w.button->setEnabled(false);
    QVERIFY(!w.button->IsHovering());
    if (nextTabStop)
        QTRY_VERIFY(w.after->hasFocus());
    else
        QTRY_VERIFY(w.window.hasFocus());
}

void TestImageButton::checkBoxMode()
{
    ButtonWindow w(BS_AUTOCHECKBOX);
    QVERIFY(w.Ready());
    CImageButton *b = w.button;
    QVERIFY(b->IsCheckBoxMode());
    QCOMPARE(b->GetCheckState(), 0);
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    QCOMPARE(b->GetCheckState(), 1);
    // Checked looks pressed: the hover icon, but not moved.
    QTest::mouseMove(&w.window, QPoint(150, 150));
    QTRY_VERIFY(!b->IsHovering());
    QCOMPARE(w.At(3, 11), red.rgb());
    QCOMPARE(b->SetCheckState(0, true), 0);
    QCOMPARE(w.At(3, 11), blue.rgb());

    CImageButton push;
    QCOMPARE(push.SetCheckState(1, true), 0);
    QCOMPARE(push.GetCheckState(), 0);
}

void TestImageButton::defaultButton()
{
    QDialog dialog;
    auto *edit = new QLineEdit(&dialog);
    auto *button = new CImageButton(&dialog, BS_DEFPUSHBUTTON);
    button->move(0, 40);
    QVERIFY(button->isDefault());
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(clicked.count(), 1);

    button->SetButtonStyle(BS_CHECKBOX, false); // other types leave it
    QVERIFY(button->isDefault());
    button->SetButtonStyle(BS_PUSHBUTTON, false);
    QVERIFY(!button->isDefault());
}

void TestImageButton::greyIcon_data()
{
    QTest::addColumn<QColor>("in");
    QTest::addColumn<QColor>("out");
    QTest::newRow("colour becomes its luminance") << QColor(200, 100, 50) << QColor(124, 124, 124);
    QTest::newRow("pure black is left alone") << QColor(0, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("white stays white") << QColor(255, 255, 255) << QColor(255, 255, 255);
    QTest::newRow("a grey keeps its exact value") << QColor(100, 100, 100) << QColor(100, 100, 100);
    QTest::newRow("pure blue") << QColor(0, 0, 255) << QColor(29, 29, 29);
    QTest::newRow("alpha is kept") << QColor(255, 0, 0, 128) << QColor(76, 76, 76, 128);
    QTest::newRow("transparent black stays") << QColor(0, 0, 0, 0) << QColor(0, 0, 0, 0);
}

void TestImageButton::greyIcon()
{
    QFETCH(QColor, in);
    QFETCH(QColor, out);
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(in);
    const QImage grey = CImageButton::MakeGreyIcon(image);
    QCOMPARE(grey.size(), image.size());
    QCOMPARE(grey.pixelColor(2, 1).rgba(), out.rgba());
    QVERIFY(CImageButton::MakeGreyIcon(QImage()).isNull());
}

void TestImageButton::greyNormalIconIsDrawn()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    QCOMPARE(w.button->SetIconHandles(SolidIcon(37, 20, QColor(200, 100, 50)), QIcon(), true), 0);
    QVERIFY(w.button->HasNormalIcon());
    QCOMPARE(w.button->GetNormalIconSize(), QSize(36, 20));
    QCOMPARE(w.At(3, 11), qRgb(124, 124, 124));
}

void TestImageButton::missingIconResources()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    QCOMPARE(w.button->SetIcons(64999, 64998, false), 0);
    QCOMPARE(w.button->GetHoverIconSize(), QSize(0, 0));
    QVERIFY(!w.button->HasNormalIcon());
    QCOMPARE(w.At(3, 11), green.rgb()); // transparent and without icons: nothing drawn
}

void TestImageButton::shippedIcons_data()
{
    QTest::addColumn<int>("hover");
    QTest::addColumn<int>("normal");
    QTest::addColumn<QSize>("drawn");
    QTest::newRow("add") << 138 << 137 << QSize(36, 20);
    QTest::newRow("remove") << 136 << 135 << QSize(36, 20);
    QTest::newRow("start") << 148 << 147 << QSize(102, 62);
    QTest::newRow("preview") << 188 << 189 << QSize(16, 16);
    QTest::newRow("help") << 141 << 142 << QSize(24, 22);
}

void TestImageButton::shippedIcons()
{
    QFETCH(int, hover);
    QFETCH(int, normal);
    QFETCH(QSize, drawn);
    if (!QFile::exists(QStringLiteral(":/icons/%1.png").arg(hover)))
        QSKIP("the icon resources are not built in");
    CImageButton button;
    QCOMPARE(button.SetIcons(hover, normal, false), 0);
    QCOMPARE(button.GetHoverIconSize(), drawn);
    QCOMPARE(button.GetNormalIconSize(), drawn);
    QCOMPARE(button.SetIcons(hover, CImageButton::GreyNormalIcon, false), 0);
    QCOMPARE(button.GetNormalIconSize(), drawn);
    QCOMPARE(button.SetIcons(hover, 0, true), 0); // the standard icon size
    QCOMPARE(button.GetHoverIconSize(), QSize(32, 32));
    QVERIFY(!button.HasNormalIcon());
}

void TestImageButton::systemColourChangeRestoresColours()
{
    ButtonWindow w;
    QVERIFY(w.Ready());
    CImageButton *b = w.button;
    QCOMPARE(b->SetColor(CImageButton::NormalBack, 0x000000FF, true), 0);
    const QPalette saved = QApplication::palette();
    QPalette changed = saved;
    changed.setColor(QPalette::Button, QColor(10, 20, 30));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    QCOMPARE(b->GetColor(CImageButton::NormalBack), RefFromColor(QColor(10, 20, 30)));
    QCOMPARE(b->GetColor(CImageButton::NormalBack), COLORREF(0x001E140A));
    QApplication::setPalette(saved);
}

void TestImageButton::tooltip()
{
    CImageButton b;
    b.SetTooltipText(QStringLiteral("Start Converting"), true);
    QCOMPARE(b.toolTip(), QStringLiteral("Start Converting"));
    b.SetTooltipText(QString(), true);
    QCOMPARE(b.GetTooltipText(), QStringLiteral("Start Converting"));
    b.SetTooltipText(QStringLiteral("Stop Converting"), false);
    QVERIFY(b.toolTip().isEmpty());
    QVERIFY(!b.IsTooltipActive());
    QCOMPARE(b.GetTooltipText(), QStringLiteral("Stop Converting"));
}

QTEST_MAIN(TestImageButton)
#include "tst_imagebutton.moc"
