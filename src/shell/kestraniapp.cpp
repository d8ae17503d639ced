// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestraniapp.h"

#include "globals.h"
#include "kestraniframedlg.h"
#include "run/signalwatcher.h"
#include "skin.h"
#include "startupwork.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

CKestraniApp::CKestraniApp(int &argc, char **argv) : QApplication(StartupWork::Begin(argc), argv)
{
    setApplicationName(QString::fromLatin1(productName));
    setOrganizationName(QString::fromLatin1(productName));
    StartupWork::ApplicationBuilt();
}

CKestraniApp::~CKestraniApp()
{
    StartupWork::Finish();
}

void CKestraniApp::PrepareProcess(const QString &folder)
{
    InitProgramFolder();
    if (!folder.isEmpty())
        programFolder = WithTrailingSeparator(QDir::toNativeSeparators(folder));
    skin.Init(0);
    skin.SetEnabled(1);
    skin.LoadSkinFromFile(programFolder + QStringLiteral("Stylish.skf"));
    skin.ApplySkin();
}

int CKestraniApp::InitInstance(const QStringList &files)
{
    PrepareProcess();
    // Without its profiles and tools the program could only fail every task it is given.
    if (QString problem; !EnginePaths::ForProgramFolder(programFolder, &problem).IsValid()) {
        QMessageBox::critical(nullptr, QString::fromLatin1(productName),
                              QStringLiteral("Kestrani cannot start: %1.").arg(problem));
        return 1;
    }

    CKestraniFrameDlg frame;
    // Asked to end (a logout, kill's default signal): the window closes as by its close
    // button, a running batch stopped first and its unfinished files removed.
    const SignalWatcher watcher([&frame](int) { frame.close(); });
    frame.OnInitDialog();
    frame.show();
    if (!files.isEmpty())
        frame.Page().AddFiles(files);
    frame.exec();
    return 0;
}

void CKestraniApp::ExitInstance()
{
    skin.RemoveSkin();
}

QStringList CKestraniApp::FileArguments() const
{
    QStringList files = arguments();
    if (!files.isEmpty())
        files.removeFirst();
    // Relative names mean the folder the program was started in; start-up leaves that folder
    // for the program's own, so they are made absolute while it is still current.
    for (QString &file : files)
        file = QFileInfo(file).absoluteFilePath();
    return files;
}
