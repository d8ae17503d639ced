// SPDX-License-Identifier: GPL-3.0-or-later
#include "globals.h"

#include <QCoreApplication>
#include <QDir>

QString programFolder;
QString outputFolder;

void InitProgramFolder()
{
    programFolder =
        WithTrailingSeparator(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}
