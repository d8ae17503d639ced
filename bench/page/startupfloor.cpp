// SPDX-License-Identifier: GPL-3.0-or-later
// The floor bench_startup compares the program with: the least a Qt Widgets program does to put
// a window on screen (application object, one plain widget of the program's size, shown).
// Reports its first paint the way bench_startup's child does.

#include "firstpaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    FirstPaintWatch watch;
    window.installEventFilter(&watch);
    window.resize(670, 550);
    window.show();
    return app.exec();
}
