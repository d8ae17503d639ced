// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/meterreport.h"

#include <QList>

#include <charconv>
#include <cmath>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView Trimmed(QByteArrayView s)
{
    while (!s.isEmpty() && IsBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && IsBlank(s.back()))
        s.chop(1);
    return s;
}

// A number as ffmpeg prints it ("-22.8", "0.000645", "-inf", "-nan"), then optionally a unit
// word. Read without regard to the locale; nothing else may follow.
std::optional<double> Number(QByteArrayView text)
{
    QByteArrayView s = Trimmed(text);
    if (const qsizetype blank = s.indexOf(' '); blank > 0)
        s = s.first(blank); // "LUFS", "LU", "dBFS" after the number
    if (s.isEmpty())
        return std::nullopt;
    bool negative = false;
    QByteArrayView magnitude = s;
    if (magnitude.front() == '-' || magnitude.front() == '+') {
        negative = magnitude.front() == '-';
        magnitude = magnitude.sliced(1);
    }
    if (magnitude == "inf")
        return negative ? -INFINITY : INFINITY;
    if (magnitude == "nan")
        return NAN;
    double value = 0;
    const char *end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data() + (s.front() == '+'), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// "[ebur128@source @ 0x55e3c1a0] Summary:" gives the name and the text after the bracket.
bool SplitPrefix(QByteArrayView line, QByteArrayView &name, QByteArrayView &rest)
{
    if (!line.startsWith('['))
        return false;
    const qsizetype close = line.indexOf(']');
    if (close < 0)
        return false;
    const QByteArrayView inside = line.sliced(1, close - 1);
    const qsizetype at = inside.lastIndexOf(" @ ");
    if (at <= 0)
        return false;
    name = inside.first(at); // "ebur128@source": the filter, then the graph's name for it
    if (const qsizetype named = name.indexOf('@'); named >= 0)
        name = name.sliced(named + 1);
    if (name.isEmpty())
        return false;
    rest = Trimmed(line.sliced(close + 1));
    return true;
}

// Which figure of a summary a line gives, by the heading above it and its own key.
void TakeSummaryLine(QByteArrayView heading, QByteArrayView line, LoudnessReading &r)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArrayView key = Trimmed(line.first(colon));
    const std::optional<double> value = Number(line.sliced(colon + 1));
    if (!value)
        return;
    if (heading == "Integrated loudness" && key == "I")
        r.integrated = *value;
    else if (heading == "Loudness range" && key == "LRA")
        r.range = *value;
    else if (heading == "Loudness range" && key == "LRA low")
        r.rangeLow = *value;
    else if (heading == "Loudness range" && key == "LRA high")
        r.rangeHigh = *value;
    else if (heading == "True peak" && key == "Peak")
        r.truePeak = *value;
}

} // namespace

MeterReport MeterReport::Read(QByteArrayView text)
{
    MeterReport report;
    QString summaryOf;      // the instance whose summary the unmarked lines continue
    QByteArrayView heading; // "Integrated loudness", "Loudness range", "True peak"
    LoudnessReading current;
    const auto close = [&] {
        if (!summaryOf.isEmpty())
            report.summaries.insert(summaryOf, current);
        summaryOf.clear();
    };
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QByteArrayView line = text.sliced(start, end - start);
        start = end + 1;
        QByteArrayView name, rest;
        if (SplitPrefix(line, name, rest)) {
            close();
            const QString instance = QString::fromUtf8(name);
            if (rest == "Summary:") {
                summaryOf = instance;
                heading = {};
                current = LoudnessReading();
            } else if (const qsizetype colon = rest.lastIndexOf(':'); colon > 0) {
                if (const std::optional<double> value = Number(rest.sliced(colon + 1)))
                    report.stats[instance].insert(QString::fromUtf8(Trimmed(rest.first(colon))),
                                                  *value);
            }
            continue;
        }
        if (summaryOf.isEmpty())
            continue;
        const QByteArrayView trimmed = Trimmed(line);
        if (trimmed.isEmpty())
            continue;
        if (!IsBlank(line.front())) { // an unmarked line from elsewhere ends the summary
            close();
            continue;
        }
        if (trimmed.endsWith(':') && trimmed.indexOf(':') == trimmed.size() - 1)
            heading = trimmed.first(trimmed.size() - 1);
        else
            TakeSummaryLine(heading, trimmed, current);
    }
    close();
    return report;
}

std::optional<LoudnessReading> MeterReport::Loudness(const QString &instance) const
{
    const auto it = summaries.constFind(instance);
    return it == summaries.cend() ? std::nullopt : std::optional(*it);
}

std::optional<double> MeterReport::Stat(const QString &instance, const QString &key) const
{
    const auto it = stats.constFind(instance);
    if (it == stats.cend())
        return std::nullopt;
    const auto value = it->constFind(key);
    return value == it->cend() ? std::nullopt : std::optional(*value);
}
