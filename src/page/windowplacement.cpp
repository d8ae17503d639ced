// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowplacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// The start of a title bar: enough of it to grab the window by.
QRect TitleStart(const QPoint &topLeft, QSize size)
{
    return QRect(topLeft, QSize(std::min(size.width(), 120), 24));
}

const QScreen *ScreenHolding(const QRect &rect)
{
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(rect))
            return screen;
    return nullptr;
}

} // namespace

QRect WindowPlacement::Area(const std::optional<QPoint> &saved)
{
    if (saved)
        if (const QScreen *screen = ScreenHolding(TitleStart(*saved, QSize(1, 1))))
            return screen->availableGeometry();
    const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
}

QPoint WindowPlacement::TopLeft(QSize size, const std::optional<QPoint> &saved, const QRect &area)
{
    if (saved && ScreenHolding(TitleStart(*saved, size)))
        return *saved;
    const QSize outer = size + decorations;
    return QPoint(area.x() + std::max(0, (area.width() - outer.width()) / 2),
                  area.y() + std::max(0, (area.height() - outer.height()) / 2));
}

double WindowPlacement::FitScale(QSize size, const QRect &area)
{
    const QSize outer = size + decorations;
    if (outer.width() <= area.width() && outer.height() <= area.height())
        return 1.0;
    const double across = double(area.width() - decorations.width()) / size.width();
    const double down = double(area.height() - decorations.height()) / size.height();
    return std::max(0.25, std::min(across, down));
}

void WindowPlacement::Place(QWidget *window, const std::optional<QPoint> &saved, bool shrink)
{
    const QRect area = Area(saved);
    if (shrink)
        window->resize(window->size().boundedTo(area.size() - decorations));
    window->move(TopLeft(window->size(), saved, area));
}
