// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <stdexcept>

// The one failure type of the media core: a file that cannot be opened, holds no picture, or
// cannot be decoded. The message is meant for people (UTF-8, names the file); the reason, where
// one is given, says why without naming the file ("Invalid data found when processing input").
class MediaError : public std::runtime_error
{
public:
    explicit MediaError(const QString &message, const QString &reason = QString())
        : std::runtime_error(message.toStdString()), reason(reason)
    {}

    QString Message() const { return QString::fromUtf8(what()); }
    QString Reason() const { return reason.isEmpty() ? Message() : reason; }

private:
    QString reason;
};
