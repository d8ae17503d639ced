#include "enginehost.h"

#include <QCoreApplication>

void EngineHost::PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
