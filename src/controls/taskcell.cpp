// SPDX-License-Identifier: GPL-3.0-or-later
#include "taskcell.h"

#include "conversiontask.h"
#include "progress/progresstext.h"
#include "tasklist.h"

#include <QDir>

namespace {

struct RowColours {
    COLORREF text, bk, selBkUnfocused, selText, selBkFocused, hotText;
};

constexpr RowColours evenRow{0x0014050A, 0x00FFB4B4, 0x00781414,
                             0x0080C8F0, 0x0060321E, 0x00960AAA};
constexpr RowColours oddRow{0x00280A28, 0x00FFDCDC, 0x00783C14, 0x0080FAF0, 0x0060321E, 0x00960AAA};

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

} // namespace

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
