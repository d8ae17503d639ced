// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/picturerate.h"

#include <QRegularExpression>

#include <cmath>
#include <numeric>

namespace {

FrameRate Reduced(qint64 num, qint64 den)
{
    if (num <= 0 || den <= 0)
        return {};
    const qint64 g = std::gcd(num, den);
    return {num / g, den / g};
}

} // namespace

qint64 FrameRate::WholeMillisecondFrames() const
{
    if (!IsValid())
        return 1;
    // n frames last n * den * 1000 / num ms: a whole number when num divides n * den * 1000.
    return num / std::gcd(num, den * 1000);
}

bool FrameRate::operator<(const FrameRate &other) const
{
    return num * other.den < other.num * den;
}

FrameRate FrameRate::Parse(const QString &text)
{
    static const QRegularExpression fraction(QStringLiteral("^(\\d{1,9})(?:/(\\d{1,9}))?$"));
    const QString t = text.trimmed();
    if (const QRegularExpressionMatch m = fraction.match(t); m.hasMatch())
        return Reduced(m.captured(1).toLongLong(),
                       m.captured(2).isEmpty() ? 1 : m.captured(2).toLongLong());
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !(value > 0.0) || value > 1e6)
        return {};
    return Reduced(qint64(std::llround(value * 1000.0)), 1000);
}

QString FrameRate::Text() const
{
    return den == 1 ? QString::number(num) : QStringLiteral("%1/%2").arg(num).arg(den);
}

PictureRateRule PictureRateRule::FromPassTemplate(const QString &passTemplate)
{
    PictureRateRule rule;
    static const QRegularExpression filter(QStringLiteral("fps=fps='([^']*)'"));
    const QString expression = filter.match(passTemplate).captured(1).remove(QLatin1Char(' '));
    static const QRegularExpression capped(
        QStringLiteral("^(?:max\\(([0-9./]+),)?min\\(source_fps,([0-9./]+)\\)(\\))?$"));
    static const QRegularExpression ticks(
        QStringLiteral("^(\\d+)/(\\d+)/(?:min\\((\\d+),)?max\\((\\d+),ceil\\(\\1/\\2/"
                       "source_fps-0\\.001\\)\\)(\\))?$"));
    if (const QRegularExpressionMatch m = capped.match(expression);
        m.hasMatch() && m.captured(1).isEmpty() == m.captured(3).isEmpty()) {
        rule.rate = FrameRate::Parse(m.captured(2));
        rule.floor = m.captured(1).isEmpty() ? FrameRate() : FrameRate::Parse(m.captured(1));
        rule.kind = rule.rate.IsValid() && (m.captured(1).isEmpty() || rule.floor.IsValid())
                        ? Kind::Capped
                        : Kind::Unknown;
    } else if (const QRegularExpressionMatch t = ticks.match(expression);
               t.hasMatch() && t.captured(3).isEmpty() == t.captured(5).isEmpty()) {
        rule.rate = Reduced(t.captured(1).toLongLong(), t.captured(2).toLongLong());
        rule.leastTicks = t.captured(4).toLongLong();
        rule.mostTicks = t.captured(3).isEmpty() ? 0 : t.captured(3).toLongLong();
        rule.kind = rule.rate.IsValid() && rule.leastTicks > 0 &&
                            (rule.mostTicks == 0 || rule.mostTicks >= rule.leastTicks)
                        ? Kind::Ticks
                        : Kind::Unknown;
    }
    return rule;
}

FrameRate PictureRateRule::For(const FrameRate &source) const
{
    switch (kind) {
    case Kind::Unknown:
        return {};
    case Kind::Capped:
        if (!source.IsValid() || rate < source)
            return rate;
        return floor.IsValid() && source < floor ? floor : source;
    case Kind::Ticks: {
        qint64 perPicture = leastTicks;
        if (source.IsValid()) // as the filter counts: ceil(clock / source - 0.001)
            perPicture = std::max<qint64>(perPicture,
                                          qint64(std::ceil(rate.Value() / source.Value() - 0.001)));
        if (mostTicks > 0)
            perPicture = std::min(perPicture, mostTicks);
        return Reduced(rate.num, rate.den * perPicture);
    }
    }
    return {};
}
