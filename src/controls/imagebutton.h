// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cellinfo.h"

#include <QIcon>
#include <QPushButton>

// Button types of a creation or restyling style (the low five bits).
constexpr int BS_PUSHBUTTON = 0x0;
constexpr int BS_DEFPUSHBUTTON = 0x1;
constexpr int BS_CHECKBOX = 0x2;
constexpr int BS_AUTOCHECKBOX = 0x3;

// A push button that shows an icon instead of a face: a hover icon while the mouse is over it
// or while it is pressed, a normal icon otherwise, the content shifted while pressed, a grey
// icon when disabled. In transparent mode it paints nothing behind the icon, so the parent's
// background shows through. Setters return 0 or a small error number; `repaint` repaints.
class CImageButton : public QPushButton
{
    Q_OBJECT
public:
    enum ColorIndex { HoverBack = 0, HoverText, NormalBack, NormalText, FocusBack, FocusText };
    static constexpr int ColorCount = 6;
    // normalId of SetIcons asking for a grey copy of the hover icon.
    static constexpr int GreyNormalIcon = -2;

    // style: BS_DEFPUSHBUTTON makes the dialog's default button, a check-box type (bit 0x02)
    // makes a two-state button.
    explicit CImageButton(QWidget *parent = nullptr, int style = BS_PUSHBUTTON);

    // Loads ":/icons/<id>.png" (a missing file is no icon); normalId 0: no normal icon,
    // GreyNormalIcon: a grey copy of the hover icon. useLoadIcon loads the hover icon at the
    // standard 32 x 32 icon size instead of its own.
    int SetIcons(int hoverId, int normalId, bool useLoadIcon);
    // Replaces both icons. A null hover icon leaves the button without icons (result 0);
    // 1 when an icon has no readable size (all icons are then dropped).
    int SetIconHandles(const QIcon &hover, const QIcon &normal = QIcon(), bool greyNormal = false);
    int SetAlign(int align, bool repaint);        // 4 when align > 3
    int SetPressedStyle(int style, bool repaint); // 0: offset (1, 1); 1: (0, 2); else 6
    int SetCheckState(int state, bool repaint);   // only in check-box mode
    int GetCheckState() const { return checkState ? 1 : 0; }
    int SetDefaultColors(bool repaint);
    int SetColor(int index, COLORREF color, bool repaint); // 3 when index >= 6
    COLORREF GetColor(int index) const;
    int SetDrawBorder(bool on, bool repaint);
    // A null text is ignored; activate false keeps the text but shows no tooltip.
    void SetTooltipText(const QString &text, bool activate);
    QString GetTooltipText() const { return tooltipText; }
    bool IsTooltipActive() const { return tooltipActive; }
    void DrawTransparent(bool repaint);
    // Restyling: BS_DEFPUSHBUTTON makes it the default button, BS_PUSHBUTTON ends that.
    void SetButtonStyle(int style, bool repaint);

    bool IsHovering() const { return hovering; }
    bool IsCheckBoxMode() const { return checkBoxMode; }
    bool IsTransparent() const { return transparent; }
    int GetAlign() const { return align; }
    QPoint GetPressOffset() const { return pressOffset; }
    // Drawing sizes: twice the icon's centre, so an odd size draws one pixel smaller.
    QSize GetHoverIconSize() const { return iconHoverSize; }
    QSize GetNormalIconSize() const { return iconNormalSize; }
    bool HasNormalIcon() const { return !iconNormal.isNull(); }

    // Every pixel that is not pure black becomes grey 0.299 r + 0.587 g + 0.114 b (truncated);
    // black pixels and alpha stay. A null image gives a null image.
    static QImage MakeGreyIcon(const QImage &icon);

protected:
    virtual int DrawBackground(QPainter &painter, const QRect &rect);
    virtual int DrawBorder(QPainter &painter, const QRect &rect);
    virtual int DrawIcon(QPainter &painter, bool hasTitle, const QRect &itemRect, QRect &titleRect,
                         bool pressed, bool disabled);
    virtual int DrawTitle(QPainter &painter, const QString &title, const QRect &itemRect,
                          QRect &titleRect, bool pressed, bool disabled);

    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void OnClicked();
    void CancelHover();
    void MoveFocusAway();
    void ReleaseIcons();
    void Repaint(bool repaint);
    QPoint IconPosition(bool hasTitle, const QRect &item, QRect &title, QSize size) const;

    QIcon iconHover;
    QSize iconHoverSize{0, 0};
    QIcon iconNormal;
    QSize iconNormalSize{0, 0};
    int marginX = 3;
    int marginY = 3;
    QPoint pressOffset{1, 1};
    bool hovering = false;
    bool transparent = false;
    bool pressed = false;
    bool focused = false;
    bool disabled = false;
    bool checkBoxMode = false;
    bool checkState = false;
    int align = 0;
    bool drawBorder = true;
    COLORREF colors[ColorCount] = {};
    QString tooltipText;
    bool tooltipActive = false;
    qint64 systemPaletteKey = 0;
};
