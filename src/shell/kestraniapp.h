// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QStringList>

// The application object: prepares the process (program folder, current directory, skin),
// runs the window until it closes, and takes the skin off at the end. The start-up work that
// needs no display begins before QApplication connects to the display (StartupWork).
class CKestraniApp : public QApplication
{
    Q_OBJECT

public:
    CKestraniApp(int &argc, char **argv);
    ~CKestraniApp() override;

    // Makes the program folder (the executable's own unless `folder` is given) the current
    // directory and puts the skin found there into effect.
    static void PrepareProcess(const QString &folder = QString());
    // Runs the program; `files` are added as tasks in order once the window is up. Returns
    // the process's exit code.
    int InitInstance(const QStringList &files);
    void ExitInstance();

    // The arguments that name files, as absolute paths, without the program name and without
    // Qt's own options. Call it before InitInstance changes the current directory.
    QStringList FileArguments() const;
};
