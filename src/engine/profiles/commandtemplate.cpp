// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/commandtemplate.h"

#include "conversiontask.h"
#include "mediacheck/sourceprobe.h"

#include <QProcess>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

struct Variable {
    QLatin1StringView name;
    QString CommandTemplate::Values::*value;
};

using V = CommandTemplate::Values;
const std::array<Variable, 10> variables{{
    {QLatin1StringView("$INPUT_FILE"), &V::inputFile},
    {QLatin1StringView("$TITLE"), &V::title},
    {QLatin1StringView("$START"), &V::start},
    {QLatin1StringView("$LENGTH"), &V::length},
    {QLatin1StringView("$TIMESTAMP"), &V::timestamp},
    {QLatin1StringView("$OUTPUT_DIR"), &V::outputDir},
    {QLatin1StringView("$OUTPUT_FILE"), &V::outputFile},
    {QLatin1StringView("$EXACT_START"), &V::exactStart},
    {QLatin1StringView("$EXACT_LENGTH"), &V::exactLength},
    {QLatin1StringView("$AUDIO_MAP"), &V::audioMap},
}};

// The longest variable name that starts at position i, if any.
const Variable *VariableAt(const QString &text, qsizetype i)
{
    const Variable *found = nullptr;
    for (const Variable &v : variables) {
        if (QStringView(text).sliced(i).startsWith(v.name) &&
            (!found || v.name.size() > found->name.size()))
            found = &v;
    }
    return found;
}

double Finite(double seconds)
{
    return std::isfinite(seconds) ? seconds : 0.0;
}

} // namespace

CommandTemplate::Values CommandTemplate::Values::For(const ConversionTask &task,
                                                     const QString &outputDir, const QDateTime &now)
{
    Values v;
    v.inputFile = task.sourcePath;
    v.title = task.title;
    // The length is the floating-point difference, truncated only afterwards.
    const double length = task.endSeconds - task.beginSeconds;
    v.start = Duration(task.beginSeconds);
    v.length = Duration(length);
    const QDate d = now.date();
    const QTime t = now.time();
    v.timestamp = QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(),
                                    t.hour(), t.minute(), t.second());
    v.outputDir = outputDir;
    v.outputFile = task.outputName;
    v.exactStart = ExactSeconds(task.beginSeconds);
    v.exactLength = ExactSeconds(length);
    return v;
}

void CommandTemplate::Values::TakeSource(const SourceInfo &source)
{
    // "?" keeps a stream the probe chose from failing the run should the tool count otherwise;
    // "-0:a" drops every audio stream, so a silent or unreadable one cannot stop the picture.
    audioMap = source.audioIndex >= 0 ? QStringLiteral("0:a:%1?").arg(source.audioIndex)
                                      : QStringLiteral("-0:a");
}

QString CommandTemplate::Duration(double seconds)
{
    constexpr double limit = double(std::numeric_limits<qint32>::max()) * 3600.0;
    const qint64 s = qint64(std::clamp(Finite(seconds), -limit, limit));
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

QString CommandTemplate::ExactSeconds(double seconds)
{
    // ffmpeg reads a time to the microsecond and keeps the frames that start at or after it. A
    // begin put on a frame's start (as the window puts it) must not come out after that start:
    // rounded to the millisecond, 12.6459666 s (frame 379 at 29.97 fps) became 12.646 and the
    // frame was lost. Cut down to the microsecond instead, forgiving the last bits of a double
    // that stands for a whole number of them.
    // Held to the range Duration writes: past it, a million times the seconds overflows.
    constexpr double limit = double(std::numeric_limits<qint32>::max()) * 3600.0;
    const double micro = std::floor(std::clamp(Finite(seconds), -limit, limit) * 1e6 + 1e-3);
    return QString::number(micro / 1e6, 'f', 6);
}

QString CommandTemplate::ExpandText(const QString &commandTemplate, const Values &values)
{
    QString out;
    out.reserve(commandTemplate.size());
    for (qsizetype i = 0; i < commandTemplate.size();) {
        const Variable *v =
            commandTemplate.at(i) == QLatin1Char('$') ? VariableAt(commandTemplate, i) : nullptr;
        if (v) {
            out += values.*(v->value);
            i += v->name.size();
        } else {
            out += commandTemplate.at(i++);
        }
    }
    return out;
}

QStringList CommandTemplate::ExpandArguments(const QString &commandTemplate, const Values &values)
{
    QStringList arguments = QProcess::splitCommand(commandTemplate);
    for (QString &argument : arguments)
        argument = ExpandText(argument, values);
    return arguments;
}
