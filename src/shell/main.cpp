// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestraniapp.h"
#include "kestraniframedlg.h"

#include <QScreen>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

// With KESTRANI_PRINT_TASKS set, the program prints its window title, where its window is on
// which screen area and at what scale, and its task list as soon as its event loop runs (after
// the files of the command line are in), then closes the window.
// The window has no text output of its own; this lets an installed program be checked from a
// script on the offscreen platform.
void PrintTasksOnceRunning()
{
    QTimer::singleShot(0, [] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *frame = qobject_cast<CKestraniFrameDlg *>(widget);
            if (!frame)
                continue;
            std::printf("title\t%s\n", qPrintable(frame->windowTitle()));
            const QRect place = frame->frameGeometry();
            const QScreen *screen = frame->screen();
            const QRect area = screen ? screen->availableGeometry() : QRect();
            std::printf("window\t%d %d %d %d\t%g\t%d %d %d %d\n", place.x(), place.y(),
                        place.width(), place.height(), frame->LayoutScale(), area.x(), area.y(),
                        area.width(), area.height());
            const TaskList &tasks = frame->Page().Tasks();
            for (qint32 i = 0; i < tasks.Count(); ++i) {
                const ConversionTask task = tasks.GetAt(i);
                std::printf("task\t%s\t%g\t%g\n", qPrintable(task.sourcePath), task.beginSeconds,
                            task.endSeconds);
            }
            std::fflush(stdout);
            frame->close();
            return;
        }
        PrintTasksOnceRunning(); // the window is not up yet
    });
}

} // namespace

int main(int argc, char *argv[])
{
    // Past a file-size limit a write fails and the batch says so, instead of ending here.
    std::signal(SIGXFSZ, SIG_IGN);
    CKestraniApp app(argc, argv);
    if (qEnvironmentVariableIsSet("KESTRANI_PRINT_TASKS"))
        PrintTasksOnceRunning();
    const int result = app.InitInstance(app.FileArguments());
    app.ExitInstance();
    return result;
}
