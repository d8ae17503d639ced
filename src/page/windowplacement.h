// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

// Where the program's windows open: where the user left them last time while that place is
// still on a screen, else centred on the screen; and how far a window laid out in fixed
// rectangles must be scaled down to fit a screen too small for it.
namespace WindowPlacement {

// Room for the window manager's frame and title bar, which a window cannot know before it is
// first shown.
inline constexpr QSize decorations(16, 48);

// The available area (without panels) of the screen a window shown at `saved` lands on, or of
// the screen the pointer is on when there is no such place.
QRect Area(const std::optional<QPoint> &saved);
// The top-left corner for a window of `size`: `saved` while the start of its title bar lies on
// a screen, otherwise centred in `area`.
QPoint TopLeft(QSize size, const std::optional<QPoint> &saved, const QRect &area);
// 1 when `size` and its decorations fit `area`; otherwise the factor that makes them fit.
double FitScale(QSize size, const QRect &area);
// Moves `window` to where it opens (after fitting its size to the area, when `shrink`).
void Place(QWidget *window, const std::optional<QPoint> &saved, bool shrink);

} // namespace WindowPlacement
