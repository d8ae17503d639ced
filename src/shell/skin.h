// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

// The program's skin: a Qt style sheet kept in a file beside the executable. The calls mirror
// the order in which the application starts and ends its skin; a missing or unreadable file
// leaves the program unskinned and says nothing.
class CSkin
{
public:
    // Prepares the skin for this process; `mode` is kept for the record only.
    void Init(int mode);
    // Enables (non-zero) or disables skinning of the windows added later.
    void SetEnabled(int enable);
    // Reads the style sheet; a relative name is resolved against the current directory.
    bool LoadSkinFromFile(const QString &fileName);
    // Puts the loaded style sheet into effect for the whole application.
    void ApplySkin();
    // Marks a window as skinned: flag 0 for a page, 1 for a button that draws itself. The
    // style sheet can tell them apart by the property "kestraniSkin".
    void AddWindow(QWidget *window, int flag);
    // Takes the skin off again.
    void RemoveSkin();

    bool IsLoaded() const { return loaded; }
    const QString &StyleSheet() const { return styleSheet; }

private:
    QString styleSheet;
    bool loaded = false;
    bool enabled = false;
    bool applied = false;
};

// The process's one skin, started and ended by the application object.
extern CSkin skin;
