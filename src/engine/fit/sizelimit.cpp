// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/sizelimit.h"

#include <QRegularExpression>

#include <cmath>

namespace {

const QString howToWrite =
    QStringLiteral("write it as 300K, 1M or 1048576 (K = 1024 bytes, M = 1024 K)");

// Up to two decimals, without trailing zeros: 1.5, 1.25, 300.
QString Number(double value)
{
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

} // namespace

qint64 SizeLimit::Parse(const QString &text, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return qint64(0);
    };
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return refuse(QStringLiteral("no size limit given: ") + howToWrite);
    // A number, a unit of K or M (also written KB, KiB, MB, MiB) or bytes (B, none).
    static const QRegularExpression shape(
        QStringLiteral("^([-+]?)\\s*(\\d+(?:\\.\\d*)?|\\.\\d+)\\s*(k|kb|kib|m|mb|mib|b|bytes?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(trimmed);
    if (!match.hasMatch())
        return refuse(QStringLiteral("\"%1\" is not a size: %2").arg(trimmed, howToWrite));
    const QString unit = match.captured(3).toLower();
    const qint64 scale = unit.startsWith(u'k') ? KB : unit.startsWith(u'm') ? MB : 1;
    const double value = match.captured(2).toDouble() * double(scale);
    if (match.captured(1) == QLatin1String("-") || std::floor(value) <= 0.0)
        return refuse(
            QStringLiteral("a size limit of \"%1\" holds nothing: it must be more than 0 bytes")
                .arg(trimmed));
    if (value > double(largest))
        return refuse(QStringLiteral("a size limit of \"%1\" is more than %2, larger than any "
                                     "phone takes")
                          .arg(trimmed, Text(largest)));
    return qint64(std::floor(value));
}

QString SizeLimit::TooSmall(qint64 bytes, qint64 smallestSecond)
{
    if (bytes >= smallestSecond)
        return QString();
    return QStringLiteral("a size limit of %1 is too small: one second of the smallest profile "
                          "takes %2")
        .arg(Text(bytes), Text(smallestSecond));
}

QString SizeLimit::Text(qint64 bytes)
{
    // Exact or not at all: a limit shown rounded would not be the limit that holds.
    if (bytes >= MB && (bytes * 100) % MB == 0)
        return Number(double(bytes) / double(MB)) + QStringLiteral(" MB");
    if (bytes >= KB && (bytes * 100) % KB == 0)
        return Number(double(bytes) / double(KB)) + QStringLiteral(" KB");
    return QStringLiteral("%1 bytes").arg(bytes);
}
