// SPDX-License-Identifier: GPL-3.0-or-later
#include "enginehost.h"

#include <QCoreApplication>

void EngineHost::PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
