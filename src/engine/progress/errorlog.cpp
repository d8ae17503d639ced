// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/errorlog.h"

#include "files/bytenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool AppendTo(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace

QString ErrorLog::FormatEntry(const QString &apiName, int errorCode, const QString &message)
{
    return QStringLiteral("ERROR:   API         =   %1.\n"
                          "       error   code   =   %2.\n"
                          "       message         =   %3.\n")
        .arg(apiName, QString::number(errorCode), message);
}

void ErrorLog::Append(const QString &text) const
{
    // A name that is not UTF-8 went through an alias of ours: the log names what it stands for.
    const QByteArray bytes = bytenames::Shown(text).toUtf8();
    if (AppendTo(mainPath, bytes)) {
        lastWritten = mainPath;
        return;
    }
    if (!fallbackPath.isEmpty())
        QDir().mkpath(QFileInfo(fallbackPath).absolutePath());
    if (AppendTo(fallbackPath, bytes))
        lastWritten = fallbackPath;
}

void ErrorLog::LogApiError(const QString &apiName, int errorCode, const QString &systemText) const
{
    Append(FormatEntry(apiName, errorCode, systemText));
}

QString ErrorLog::Path() const
{
    if (!lastWritten.isEmpty())
        return lastWritten;
    const QFileInfo main(mainPath);
    if (main.exists() ? main.isWritable() : QFileInfo(main.absolutePath()).isWritable())
        return mainPath;
    return fallbackPath;
}

QString ErrorLog::FormatTaskFailure(int taskRow, const QString &source, int failedPass,
                                    const QString &status, const QString &failedCommand,
                                    const QStringList &lastLines)
{
    QString entry =
        QStringLiteral("ERROR:   TASK        =   %1 (%2).\n"
                       "       pass            =   %3.\n"
                       "       status          =   %4.\n")
            .arg(QString::number(taskRow + 1), source,
                 failedPass > 0 ? QString::number(failedPass) : QStringLiteral("none"), status);
    if (!failedCommand.isEmpty())
        entry += QStringLiteral("       command         =   %1\n").arg(failedCommand);
    if (!lastLines.isEmpty()) {
        entry += QStringLiteral("       last output     =\n");
        for (const QString &line : lastLines)
            entry += QStringLiteral("           %1\n").arg(line);
    }
    return entry;
}
