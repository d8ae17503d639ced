// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QString>

#include <optional>

// The few values the page keeps between runs, each the default value of one key of the
// user's "Kestrani" settings (the registry on Windows, an INI file in the user's config folder
// elsewhere, with the system folder as fall-back for reading). Failed writes are ignored: a
// setting that cannot be stored is not worth interrupting the user for.
class PageSettings
{
public:
    // The stored version text, cut to the length a 256-character buffer holds; the build's own
    // version when none is stored.
    static QString ReadVersion();
    // The stored output folder as stored (it may lack its trailing separator); false when none.
    static bool ReadDestination(QString &folder);
    static void WriteDestination(const QString &folder);
    static void WriteFileNumber(int fileNumber);
    // How many tasks convert at once (0: as many as keep the machine busy); 1 when none is
    // stored or the stored text is no such number.
    static int ReadSimultaneousTasks();
    static void WriteSimultaneousTasks(int count);
    // A check box's state and a text kept as typed; the given default when none is stored.
    static bool ReadFlag(const char *key, bool otherwise = false);
    static void WriteFlag(const char *key, bool on);
    static QString ReadText(const char *key, const QString &otherwise);
    static void WriteText(const char *key, const QString &text);
    // Where a window was left (key: Page::windowPlaceKey or helpPlaceKey); none when nothing
    // usable is stored.
    static std::optional<QPoint> ReadPlace(const char *key);
    static void WritePlace(const char *key, const QPoint &topLeft);
    // The folder used when none is stored, with its trailing separator.
    static QString DefaultOutputFolder();
};
