// SPDX-License-Identifier: GPL-3.0-or-later
#include "taskcell.h"

#include "conversiontask.h"
#include "tasklist.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct RowColours {
    COLORREF text, bk, selBkUnfocused, selText, selBkFocused, hotText;
};

constexpr RowColours evenRow{0x0014050A, 0x00FFB4B4, 0x00781414,
                             0x0080C8F0, 0x0060321E, 0x00960AAA};
constexpr RowColours oddRow{0x00280A28, 0x00FFDCDC, 0x00783C14, 0x0080FAF0, 0x0060321E, 0x00960AAA};

// Whole seconds as the C conversion gives them, kept inside the integer range so that absurd
// inputs cannot overflow.
qint64 WholeSeconds(double seconds)
{
    constexpr double limit = double(std::numeric_limits<qint32>::max()) * 3600.0;
    if (!std::isfinite(seconds))
        return 0;
    return qint64(std::clamp(seconds, -limit, limit));
}

QString FileNamePart(const QString &path)
{
    qsizetype b = path.lastIndexOf(QLatin1Char('/'));
    if (QDir::separator() != QLatin1Char('/'))
        b = qMax(b, path.lastIndexOf(QDir::separator()));
    return path.mid(b + 1);
}

QString OutputText(const ConversionTask &task, int outputType)
{
    if (outputType == 0 || outputType == 1)
        return task.outputName + QStringLiteral(".3gp");
    if (outputType == 2)
        return task.outputName + QStringLiteral(".3g2");
    return QString();
}

void SetRowColours(CellInfo &cell)
{
    const RowColours &c = (cell.row % 2 == 0) ? evenRow : oddRow;
    cell.textColor = c.text;
    cell.bkColor = c.bk;
    cell.selBkColorUnfocused = c.selBkUnfocused;
    cell.selTextColor = c.selText;
    cell.selBkColorFocused = c.selBkFocused;
    cell.hotTextColor = c.hotText;
}

bool HasProgressToShow(const ConversionTask &task)
{
    return task.encodedSeconds > 0.0 && task.sizeKB > 0;
}

} // namespace

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

void FillTaskCell(const TaskList &tasks, int outputType, CellInfo &cell)
{
    SetRowColours(cell);
    if (!tasks.IsValidIndex(cell.row))
        return;
    const ConversionTask task = tasks.GetAt(cell.row);
    switch (cell.column) {
    case COL_SOURCE:
        cell.text = FileNamePart(task.sourcePath);
        break;
    case COL_BEGIN:
        cell.text = FormatClock(task.beginSeconds);
        break;
    case COL_END:
        cell.text = FormatClock(task.endSeconds);
        break;
    case COL_OUTPUT:
        cell.text = OutputText(task, outputType);
        break;
    case COL_PROGRESS:
        cell.text = ProgressText(task);
        if (task.finished != 1 && task.state == TASK_ENCODING && HasProgressToShow(task)) {
            cell.progressRange = 100;
            cell.progressPos = ProgressPercent(task);
            cell.barColor = PROGRESS_BAR_COLOR;
        }
        break;
    default:
        break;
    }
}
