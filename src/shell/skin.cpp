// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin.h"

#include <QApplication>
#include <QFile>
#include <QStyle>
#include <QWidget>

CSkin skin;

void CSkin::Init(int mode)
{
    Q_UNUSED(mode);
    styleSheet.clear();
    loaded = false;
    applied = false;
}

void CSkin::SetEnabled(int enable)
{
    enabled = enable != 0;
}

bool CSkin::LoadSkinFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    styleSheet = QString::fromUtf8(file.readAll());
    loaded = true;
    return true;
}

void CSkin::ApplySkin()
{
    if (!loaded || !enabled || !qApp)
        return;
    qApp->setStyleSheet(styleSheet);
    applied = true;
}

void CSkin::AddWindow(QWidget *window, int flag)
{
    if (!window || !applied)
        return;
    window->setProperty("kestraniSkin", flag);
    // A dynamic property changes which rules match only after the style looks again.
    window->style()->unpolish(window);
    window->style()->polish(window);
}

void CSkin::RemoveSkin()
{
    if (applied && qApp)
        qApp->setStyleSheet(QString());
    applied = false;
}
