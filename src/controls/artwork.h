// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>

// The program's own pictures: PNG files in its resources, read as PNG and nothing else. Qt
// reading a picture whose format it may detect first loads every image plug-in of the system
// and asks each one (some ten milliseconds the first time); ours never need them.
// The pictures a window shows at once can be read ahead, on a thread of their own, while the
// window is being built: Image() then waits for a picture still being read, and reads any
// other one itself. Thread-safe, once the application object exists.
namespace Artwork {

// Starts reading `paths` on a thread of its own; the application object must exist. Once per
// process; a path that cannot be read gives a null picture.
void Preload(const QStringList &paths);
// Waits for the reading thread to end. The process calls it before it ends.
void FinishPreload();

QImage Image(const QString &path);
QPixmap Pixmap(const QString &path);
// The picture and, on a high-density screen, its double-size companion ("name@2x.png") drawn
// at the same size.
QIcon Icon(const QString &path);
// The companion's name: ":/icons/135.png" gives ":/icons/135@2x.png".
QString Doubled(const QString &path);

} // namespace Artwork
