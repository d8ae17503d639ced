// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a start-up child reports its first paint to bench_startup: "painted" on standard output
// once the first paint of the watched widget has been done (not when it is about to begin),
// then the program ends. Shared by the program's child and the plain-window floor, so that
// both are timed to the same moment.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>

class FirstPaintWatch : public QObject
{
public:
    // Called just before the report, e.g. to print the time of the last phase.
    explicit FirstPaintWatch(void (*beforeReport)() = nullptr) : beforeReport(beforeReport) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, qApp, [this] {
                if (beforeReport)
                    beforeReport();
                std::puts("painted");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void (*beforeReport)();
    bool seen = false;
};
