// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/progresstext.h"

#include "conversiontask.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Whole seconds as the C conversion gives them, kept inside the integer range so that absurd
// inputs cannot overflow.
qint64 WholeSeconds(double seconds)
{
    constexpr double limit = double(std::numeric_limits<qint32>::max()) * 3600.0;
    if (!std::isfinite(seconds))
        return 0;
    return qint64(std::clamp(seconds, -limit, limit));
}

} // namespace

bool HasProgressToShow(const ConversionTask &task)
{
    return task.encodedSeconds > 0.0 && task.sizeKB > 0;
}

QString FormatClock(double seconds)
{
    const qint64 s = WholeSeconds(seconds);
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

int ProgressPercent(const ConversionTask &task)
{
    const double range = task.endSeconds - task.beginSeconds;
    if (!(range > 0.0))
        return 0;
    const double p = std::trunc(task.encodedSeconds * 100.0 / range + 0.5);
    if (!(p < 99.0)) // also a NaN-free guard for very large values
        return 100;
    return int(std::max(p, double(std::numeric_limits<int>::min())));
}

QString ProgressText(const ConversionTask &task)
{
    if (task.finished == 1)
        return QStringLiteral(" Finished ");
    switch (task.state) {
    case TASK_ENCODING: {
        if (!HasProgressToShow(task))
            return QString();
        const qint64 s = WholeSeconds(task.encodedSeconds);
        return QString::asprintf("%02lld:%02lld:%02lld  %.02fMB  %.02fFrames/s  %%%d ", s / 3600,
                                 (s % 3600) / 60, s % 60, task.sizeKB * 0.0009765625,
                                 task.framesPerSecond, ProgressPercent(task));
    }
    case TASK_EXPORTING:
        return QStringLiteral("Exporting");
    case TASK_CHANGING:
        return QStringLiteral("Changeing");
    case TASK_CANCELED:
        return QStringLiteral("Canceled");
    case TASK_FAILED:
        return QStringLiteral("Failed");
    default:
        return QString();
    }
}
