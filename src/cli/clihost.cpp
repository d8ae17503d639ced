// SPDX-License-Identifier: GPL-3.0-or-later
#include "clihost.h"

#include "files/bytenames.h"
#include "profiles/outputtypes.h"
#include "progress/progresstext.h"
#include "tasklist.h"

#include <QFileInfo>

namespace {

// A live line is redrawn at most this often: a terminal cannot show more, and drawing costs.
constexpr qint64 liveIntervalMs = 100;

QString StateText(const ConversionTask &task)
{
    if (task.finished == 1)
        return QStringLiteral("Finished");
    if (task.state == TASK_ENCODING)
        return QStringLiteral("Encoding");
    return ProgressText(task).trimmed();
}

} // namespace

CliHost::CliHost(const TaskList &tasks, std::FILE *out, std::FILE *err, bool liveProgress)
    : tasks(tasks), out(out), err(err), liveProgress(liveProgress)
{}

void CliHost::InvalidateCells(int firstRow, int lastRow, int column, bool)
{
    if (column != COL_PROGRESS)
        return;
    for (int row = firstRow; row <= lastRow && tasks.IsValidIndex(row); ++row)
        ReportRow(row);
}

void CliHost::ReportRow(int row)
{
    const ConversionTask task = tasks.GetAt(row);
    Shown &last = shown[row];
    if (task.state != last.state || task.finished != last.finished) {
        last.state = task.state;
        last.finished = task.finished;
        ClearLive();
        Write(out, RowPrefix(row) + QStringLiteral(": ") + StateText(task) + QLatin1Char('\n'));
        return;
    }
    if (liveProgress && task.finished != 1 && task.state == TASK_ENCODING)
        ShowLive(row, ProgressText(task));
}

void CliHost::ShowLive(int row, const QString &text)
{
    if (text.isEmpty() || (liveShown && liveClock.elapsed() < liveIntervalMs))
        return;
    Write(out, QStringLiteral("\r%1  %2\x1b[K").arg(RowPrefix(row), text));
    liveShown = true;
    liveClock.start();
}

void CliHost::ClearLive()
{
    if (!liveShown)
        return;
    Write(out, QStringLiteral("\r\x1b[K"));
    liveShown = false;
}

QString CliHost::RowPrefix(int row) const
{
    const ConversionTask task = tasks.GetAt(row);
    const OutputType *type = OutputType::Find(outputType);
    const QString extension = type ? type->Extension() : QString();
    return QStringLiteral("[%1/%2] %3 -> %4%5")
        .arg(row + 1)
        .arg(tasks.Count())
        .arg(QFileInfo(task.sourcePath).fileName(), task.outputName, extension);
}

void CliHost::SetProfileDescription(const QString &text)
{
    description = text;
    descriptionSet = true;
}

void CliHost::ForgetProfiles()
{
    description.clear();
    descriptionSet = false;
    profiles.clear();
    profileRow = -1;
}

void CliHost::ReportTaskFailure(int row, const QString &reason)
{
    ClearLive();
    QString text = QStringLiteral("%1: failed: %2\n").arg(RowPrefix(row), reason);
    if (logPath)
        text += QStringLiteral("  the log has the details: %1\n").arg(logPath());
    Write(err, text);
}

QString CliHost::WhereFailuresAre(const QList<int> &failedRows) const
{
    QStringList names;
    for (int row : failedRows)
        if (tasks.IsValidIndex(row))
            names << tasks.GetAt(row).sourcePath;
    return names.join(QStringLiteral(", "));
}

void CliHost::ShowMessage(const QString &text, const QString &caption, MessageIcon)
{
    ClearLive();
    Write(err, QStringLiteral("kestrani-cli: %1: %2\n").arg(caption, text.trimmed()));
}

void CliHost::Write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = bytenames::Shown(text).toUtf8();
    std::fprintf(stream, "%s", bytes.constData()); // no NUL inside: names hold none
    std::fflush(stream);
}
