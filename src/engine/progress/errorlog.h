// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The append-only error log "log.txt". Each entry is one write to a file opened for
// appending, so several programs may share the log without mixing their entries. Where the
// main log cannot be written (a read-only program folder), the per-user one takes it.
class ErrorLog
{
public:
    ErrorLog() = default;
    ErrorLog(const QString &mainPath, const QString &fallbackPath)
        : mainPath(mainPath), fallbackPath(fallbackPath)
    {}

    static QString FormatEntry(const QString &apiName, int errorCode, const QString &message);
    // The entry for a failed task: which task and pass, how it ended, the command and the
    // tool's last lines.
    static QString FormatTaskFailure(int row, const QString &source, int pass,
                                     const QString &status, const QString &command,
                                     const QStringList &lastLines);

    // Never truncates; failures are silent.
    void Append(const QString &text) const;
    // One entry for a failed operation with the system's code and text for it.
    void LogApiError(const QString &apiName, int errorCode, const QString &systemText) const;
    // The log a reader should open: the one the last entry went to, else the one the next
    // entry would go to.
    QString Path() const;

private:
    QString mainPath;
    QString fallbackPath;
    mutable QString lastWritten;
};
