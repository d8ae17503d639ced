// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

inline const char *const productName = "Kestrani";

// Where the program's own files are: found once at start and handed to whoever needs them,
// never taken from the current directory. Folder names end with the platform's separator.
struct EnginePaths {
    QString programFolder; // the executable's folder: the skin, the help page
    QString appFolder;     // programFolder + "app": the profile files and our own tools
    QString logFile;       // "log.txt" in the app folder
    QString fallbackLog;   // the per-user log, where the app folder cannot be written
    QString journalFolder; // the running batches' journals (per user)

    // The paths of a program folder that holds an "app" folder; empty paths and a message
    // naming the folder looked in otherwise.
    static EnginePaths ForProgramFolder(const QString &folder, QString *problem = nullptr);
    // The running executable's folder (symbolic links to it resolved).
    static EnginePaths ForRunningProgram(QString *problem = nullptr);

    bool IsValid() const { return !appFolder.isEmpty(); }
    // A profile file or tool name in the app folder.
    QString InApp(const QString &name) const { return appFolder + name; }
};

// Appends the platform's separator unless the text already ends with one. An empty text
// becomes the separator alone.
QString WithTrailingSeparator(const QString &folder);
