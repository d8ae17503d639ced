// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <exception>
#include <string>

// What every failed CVideoEdit operation throws: the file cannot be opened or decoded, or the
// operation needs an open clip and there is none.
class CVideoEditException : public std::exception
{
public:
    explicit CVideoEditException(const QString &message) : text(message.toStdString()) {}

    const char *what() const noexcept override { return text.c_str(); }
    QString Message() const { return QString::fromStdString(text); }

private:
    std::string text;
};
