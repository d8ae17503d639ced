// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/batchoutcome.h"

#include <QStringList>

namespace {

const char *const finishedText = "                   Converting Finished                    ";

} // namespace

QString BatchOutcome::Text(const QString &whereFailed) const
{
    if (AllFinished())
        return QString::fromLatin1(finishedText);
    // The first count names the whole ("of 3 videos"); the others follow it.
    QStringList parts;
    const auto count = [&](int n, const char *what) {
        if (n <= 0)
            return;
        if (parts.isEmpty())
            parts << QStringLiteral("%1 of %2 %3 %4")
                         .arg(n)
                         .arg(tasks)
                         .arg(tasks == 1 ? QStringLiteral("video") : QStringLiteral("videos"),
                              QLatin1String(what));
        else
            parts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(what));
    };
    count(failed, "failed");
    count(stopped, "stopped");
    count(NotStarted(), "not started");
    QString text = parts.join(QStringLiteral(", "));
    if (failed > 0 && !whereFailed.isEmpty())
        text += QStringLiteral(": ") + whereFailed;
    return text;
}
