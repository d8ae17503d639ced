// SPDX-License-Identifier: GPL-3.0-or-later
// The floor bench_startup compares the program with: the least a Qt Widgets program does to put
// a window on screen (application object, one plain widget of the program's size, shown).
// Reports its first paint the way bench_startup's child does: "painted" on standard output
// once the first paint is done, then it ends.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class FirstPaintWatch : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, qApp, [] {
                std::puts("painted");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen = false;
};

} // namespace

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
