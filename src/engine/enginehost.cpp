// SPDX-License-Identifier: GPL-3.0-or-later
#include "enginehost.h"

void EngineHost::ReportTaskFailure(int, const QString &) {}

QString EngineHost::WhereFailuresAre(const QList<int> &) const
{
    return QStringLiteral("see the Progress column");
}
