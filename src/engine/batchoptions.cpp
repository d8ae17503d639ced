// SPDX-License-Identifier: GPL-3.0-or-later
#include "batchoptions.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

std::optional<qint64> BatchOptions::ParseSize(const QString &text, QString *problem)
{
    const auto refuse = [problem](const QString &why) -> std::optional<qint64> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    // A number (a '.' for decimals, whatever the locale), then K or M with an optional B,
    // or B or "bytes" or nothing; blanks between are allowed.
    static const QRegularExpression form(QStringLiteral(
        "^\\s*([0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)\\s*(?:([kKmM])[bB]?|[bB]|bytes)?\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return refuse(QStringLiteral("\"%1\" is not a size: write it as 300K, 1M or a number "
                                     "of bytes")
                          .arg(text.trimmed()));
    const double number = match.captured(1).toDouble();
    const QString unit = match.captured(2).toUpper();
    const double scale = unit == u"K" ? 1024.0 : unit == u"M" ? 1024.0 * 1024.0 : 1.0;
    const double bytes = std::floor(number * scale);
    if (!std::isfinite(bytes) || bytes > double(std::numeric_limits<qint64>::max() / 2))
        return refuse(QStringLiteral("the size %1 is too large").arg(text.trimmed()));
    if (bytes < 1.0)
        return refuse(QStringLiteral("the largest file must be more than 0 bytes"));
    if (bytes < double(minimumFileBytes))
        return refuse(QStringLiteral("%1 is too small: no profile fits even a second of video "
                                     "in it (at least %2)")
                          .arg(SizeText(qint64(bytes)), SizeText(minimumFileBytes)));
    return qint64(bytes);
}

QString BatchOptions::SizeText(qint64 bytes)
{
    const auto number = [](double value) {
        // Whole numbers without decimals, others with up to two: "1 MB", "1.5 MB".
        QString text = QString::number(value, 'f', 2);
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
        return text;
    };
    if (bytes >= 1024 * 1024)
        return number(double(bytes) / (1024.0 * 1024.0)) + QStringLiteral(" MB");
    if (bytes >= 1024)
        return number(double(bytes) / 1024.0) + QStringLiteral(" KB");
    return QStringLiteral("%1 bytes").arg(bytes);
}
