// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "enginepaths.h"

#include <QString>

// Process-wide paths, each ending with the platform's separator.
extern QString programFolder; // the executable's own folder; set once at start-up
extern QString outputFolder;  // the chosen output folder

// Sets programFolder from the running executable (QCoreApplication must exist).
void InitProgramFolder();
