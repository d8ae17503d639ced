// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagebutton.h"

#include "artwork.h"
#include "syscolors.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The icon's own size: its smallest image, the one a high-DPI copy doubles.
QSize NaturalSize(const QIcon &icon)
{
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        return {};
    QSize smallest = sizes.first();
    for (const QSize &s : sizes) {
        if (s.width() * s.height() < smallest.width() * smallest.height())
            smallest = s;
    }
    return smallest;
}

// The size an icon draws at: twice its centre, which drops the last column or row of an
// odd-sized image. Empty when the icon has no size to read.
QSize DrawingSize(const QIcon &icon)
{
    const QSize size = NaturalSize(icon);
    return QSize(size.width() / 2 * 2, size.height() / 2 * 2);
}

QIcon GreyCopy(const QIcon &icon)
{
    const QSize size = NaturalSize(icon);
    QIcon grey;
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap source = icon.pixmap(size, ratio);
        if (source.isNull())
            continue;
        QPixmap result = QPixmap::fromImage(CImageButton::MakeGreyIcon(source.toImage()));
        result.setDevicePixelRatio(source.devicePixelRatio());
        grey.addPixmap(result);
    }
    return grey;
}

QIcon LoadIconResource(int id, bool standardSize)
{
    const QString path = QStringLiteral(":/icons/%1.png").arg(id);
    if (id <= 0 || !QFile::exists(path))
        return {};
    if (!standardSize)
        return Artwork::Icon(path);
    const QImage image = Artwork::Image(path);
    if (image.isNull())
        return {};
    return QIcon(
        QPixmap::fromImage(image.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

} // namespace

CImageButton::CImageButton(QWidget *parent, int style) : QPushButton(parent)
{
    const int type = style & 0x1F;
    checkBoxMode = (type & BS_CHECKBOX) != 0;
    setDefault(type == BS_DEFPUSHBUTTON);
    setMouseTracking(true);
    systemPaletteKey = QApplication::palette().cacheKey();
    SetDefaultColors(false);
    // Connected first, so the button's own click handling runs before its owner's slots.
    connect(this, &QAbstractButton::clicked, this, &CImageButton::OnClicked);
}

int CImageButton::SetIcons(int hoverId, int normalId, bool useLoadIcon)
{
    const QIcon hover = LoadIconResource(hoverId, useLoadIcon);
    if (normalId == GreyNormalIcon)
        return SetIconHandles(hover, QIcon(), true);
    return SetIconHandles(hover, LoadIconResource(normalId, false), false);
}

int CImageButton::SetIconHandles(const QIcon &hover, const QIcon &normal, bool greyNormal)
{
    ReleaseIcons();
    update();
    if (hover.isNull())
        return 0;
    const QSize hoverSize = DrawingSize(hover);
    if (hoverSize.isEmpty())
        return 1;
    iconHover = hover;
    iconHoverSize = hoverSize;
    if (greyNormal) {
        iconNormal = GreyCopy(hover);
        iconNormalSize = iconNormal.isNull() ? QSize(0, 0) : hoverSize;
    } else if (!normal.isNull()) {
        const QSize normalSize = DrawingSize(normal);
        if (normalSize.isEmpty()) {
            ReleaseIcons();
            return 1;
        }
        iconNormal = normal;
        iconNormalSize = normalSize;
    }
    return 0;
}

int CImageButton::SetAlign(int newAlign, bool repaint)
{
    if (newAlign < 0 || newAlign > 3)
        return 4;
    align = newAlign;
    Repaint(repaint);
    return 0;
}

int CImageButton::SetPressedStyle(int style, bool repaint)
{
    if (style == 0)
        pressOffset = QPoint(1, 1);
    else if (style == 1)
        pressOffset = QPoint(0, 2);
    else
        return 6;
    Repaint(repaint);
    return 0;
}

int CImageButton::SetCheckState(int state, bool repaint)
{
    if (checkBoxMode) {
        checkState = state != 0;
        Repaint(repaint);
    }
    return 0;
}

int CImageButton::SetDefaultColors(bool repaint)
{
    const COLORREF face = RefFromColor(GetSysColor(palette(), COLOR_BTNFACE));
    const COLORREF text = RefFromColor(GetSysColor(palette(), COLOR_BTNTEXT));
    for (int i = 0; i < ColorCount; ++i)
        colors[i] = (i % 2 == 0) ? face : text;
    Repaint(repaint);
    return 0;
}

int CImageButton::SetColor(int index, COLORREF color, bool repaint)
{
    if (index < 0 || index >= ColorCount)
        return 3;
    colors[index] = color;
    Repaint(repaint);
    return 0;
}

COLORREF CImageButton::GetColor(int index) const
{
    return (index >= 0 && index < ColorCount) ? colors[index] : CLR_NONE;
}

int CImageButton::SetDrawBorder(bool on, bool repaint)
{
    drawBorder = on;
    Repaint(repaint);
    return 0;
}

void CImageButton::SetTooltipText(const QString &text, bool activate)
{
    if (text.isNull())
        return;
    tooltipText = text;
    tooltipActive = activate;
    setToolTip(activate ? text : QString());
}

void CImageButton::DrawTransparent(bool repaint)
{
    transparent = true;
    Repaint(repaint);
}

void CImageButton::SetButtonStyle(int style, bool repaint)
{
    const int type = style & 0x1F;
    if (type == BS_DEFPUSHBUTTON)
        setDefault(true);
    else if (type == BS_PUSHBUTTON)
        setDefault(false);
    Repaint(repaint);
}

QImage CImageButton::MakeGreyIcon(const QImage &icon)
{
    if (icon.isNull())
        return {};
    QImage grey = icon.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb c = line[x];
            const int r = qRed(c), g = qGreen(c), b = qBlue(c);
            if (r == 0 && g == 0 && b == 0)
                continue;
            // Integer weights in thousandths: exact where floating point would land just
            // below a whole number and truncate one step too far.
            const int v = (299 * r + 587 * g + 114 * b) / 1000;
            line[x] = qRgba(v, v, v, qAlpha(c));
        }
    }
    return grey;
}

int CImageButton::DrawBackground(QPainter &painter, const QRect &rect)
{
    const int index = (hovering || pressed) ? HoverBack : focused ? FocusBack : NormalBack;
    painter.fillRect(rect, ColorFromRef(colors[index]));
    return 0;
}

int CImageButton::DrawBorder(QPainter &painter, const QRect &rect)
{
    if (!drawBorder)
        return 0;
    const QColor light = GetSysColor(palette(), COLOR_BTNHIGHLIGHT);
    const QColor shadow = GetSysColor(palette(), COLOR_BTNSHADOW);
    if (pressed)
        Draw3dRect(painter, rect, shadow, light);
    else if (hovering)
        Draw3dRect(painter, rect, light, shadow);
    return 0;
}

int CImageButton::DrawIcon(QPainter &painter, bool hasTitle, const QRect &itemRect,
                           QRect &titleRect, bool isPressed, bool isDisabled)
{
    const bool useHover = isPressed || (hovering && !checkBoxMode) || iconNormal.isNull();
    const QIcon &icon = useHover ? iconHover : iconNormal;
    const QSize size = useHover ? iconHoverSize : iconNormalSize;
    QPoint at = IconPosition(hasTitle, itemRect, titleRect, size);
    if (isPressed && !checkBoxMode)
        at += pressOffset;
    const QPixmap pixmap = icon.pixmap(NaturalSize(icon), devicePixelRatioF(),
                                       isDisabled ? QIcon::Disabled : QIcon::Normal);
    painter.drawPixmap(QRect(at, size), pixmap);
    return 0;
}

// Places an icon of the given size by the alignment; may narrow the title rectangle.
// Halvings truncate toward zero, as the layout rules expect.
QPoint CImageButton::IconPosition(bool hasTitle, const QRect &item, QRect &title, QSize size) const
{
    const int w = size.width(), h = size.height();
    const int centredX = item.x() + (item.width() - w) / 2;
    const int centredY = item.y() + (item.height() - h) / 2;
    switch (align) {
    case 0:
        if (!hasTitle)
            return QPoint(centredX, centredY);
        title.setLeft(title.left() + marginX + w);
        return QPoint(item.x() + marginX, centredY);
    case 1:
        if (!hasTitle)
            return QPoint(centredX, centredY);
        title.setTop(title.top() + h);
        return QPoint(centredX, marginY);
    case 2: {
        if (!hasTitle)
            return QPoint(centredX, item.y());
        const int right = title.x() + title.width() - (title.x() + marginX + w);
        title = QRect(marginX, title.y(), right - marginX, title.height());
        return QPoint(width() - marginX - w, centredY);
    }
    default:
        return item.topLeft();
    }
}

int CImageButton::DrawTitle(QPainter &painter, const QString &title, const QRect &,
                            QRect &titleRect, bool isPressed, bool isDisabled)
{
    if (isPressed && !checkBoxMode)
        titleRect.translate(pressOffset);
    const int flags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::TextShowMnemonic;
    const QRect measured = painter.fontMetrics().boundingRect(titleRect, flags, title);
    QRect text(titleRect.x() + (titleRect.width() - measured.width()) / 2,
               titleRect.y() + (titleRect.height() - measured.height()) / 2, measured.width(),
               measured.height());
    QColor color;
    if (isDisabled) {
        text.translate(1, 1);
        color = GetSysColor(palette(), COLOR_BTNHIGHLIGHT);
    } else {
        const int index = (hovering || isPressed) ? HoverText : focused ? FocusText : NormalText;
        color = ColorFromRef(colors[index]);
    }
    painter.setPen(color);
    painter.drawText(text, flags, title);
    return 0;
}

void CImageButton::paintEvent(QPaintEvent *)
{
    pressed = checkBoxMode ? (isDown() || checkState) : isDown();
    focused = hasFocus();
    disabled = !isEnabled();
    QPainter painter(this);
    const QRect item = rect();
    if (!transparent)
        DrawBackground(painter, item);
    DrawBorder(painter, item);
    const QString title = text();
    QRect titleRect = item;
    if (!iconHover.isNull())
        DrawIcon(painter, !title.isEmpty(), item, titleRect, pressed, disabled);
    if (!title.isEmpty())
        DrawTitle(painter, title, item, titleRect, pressed, disabled);
}

void CImageButton::mouseMoveEvent(QMouseEvent *event)
{
    QPushButton::mouseMoveEvent(event);
    // A press that began elsewhere and was dragged here does not light the button.
    if ((event->buttons() & Qt::LeftButton) && !hovering)
        return;
    if (!rect().contains(event->position().toPoint())) {
        CancelHover();
        return;
    }
    if (hovering)
        return;
    hovering = true;
    update();
}

// A quick second click is another click, not a double click.
void CImageButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
}

void CImageButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    CancelHover();
}

void CImageButton::focusOutEvent(QFocusEvent *event)
{
    QPushButton::focusOutEvent(event);
    CancelHover();
}

void CImageButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        if (!isActiveWindow())
            CancelHover();
        break;
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            MoveFocusAway();
            CancelHover();
        }
        break;
    default:
        break;
    }
}

bool CImageButton::event(QEvent *event)
{
    const bool handled = QPushButton::event(event);
    // A system colour change takes the button back to the system colours, also where its
    // owner had set its own. The application palette stands for the system colours; a
    // palette given to the button or its parents (a skin) is no system change.
    const bool paletteEvent =
        event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange;
    if (paletteEvent && QApplication::palette().cacheKey() != systemPaletteKey) {
        systemPaletteKey = QApplication::palette().cacheKey();
        SetDefaultColors(true);
    }
    return handled;
}

void CImageButton::OnClicked()
{
    setFocus(Qt::MouseFocusReason);
    if (checkBoxMode) {
        checkState = !checkState;
        update();
    }
}

void CImageButton::CancelHover()
{
    if (!hovering)
        return;
    hovering = false;
    update();
}

// A disabled button hands the focus on to the next tab stop of its parent (or the parent
// itself), whether or not it held the focus.
void CImageButton::MoveFocusAway()
{
    QWidget *parent = parentWidget();
    if (!parent)
        return;
    for (QWidget *w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (parent->isAncestorOf(w) && w->isEnabled() && w->isVisible() &&
            (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    parent->setFocus(Qt::OtherFocusReason);
}

void CImageButton::ReleaseIcons()
{
    iconHover = QIcon();
    iconNormal = QIcon();
    iconHoverSize = QSize(0, 0);
    iconNormalSize = QSize(0, 0);
}

void CImageButton::Repaint(bool repaint)
{
    if (repaint)
        update();
}
