// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/fitarguments.h"

#include "fit/fitprofile.h"
#include "profiles/commandtemplate.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>

namespace {

// The position of the value after the last `option` at or after `from`; -1 when none.
qsizetype ValueAfter(const QStringList &arguments, const QStringList &options, qsizetype from = 0)
{
    qsizetype at = -1;
    for (qsizetype i = from; i + 1 < arguments.size(); ++i)
        if (options.contains(arguments.at(i)))
            at = i + 1;
    return at;
}

// Where the output's options end: the output file is the last argument and its format ("-f")
// the option right before it, as in every pass 1 of the profiles.
qsizetype OutputFormat(const QStringList &arguments)
{
    const qsizetype n = arguments.size();
    return n >= 3 && arguments.at(n - 3) == QLatin1String("-f") ? n - 3 : -1;
}

QString Bits(double bits)
{
    return QString::number(qint64(std::llround(bits)));
}

} // namespace

bool FitArguments::SetPictureRate(QStringList &arguments, double bits)
{
    const qsizetype rate = ValueAfter(arguments, {QStringLiteral("-b:v")});
    if (rate < 0 || bits <= 0)
        return false;
    const double own = FitProfile::ParseBits(arguments.at(rate));
    if (const qsizetype tolerance = ValueAfter(arguments, {QStringLiteral("-bt")});
        tolerance >= 0 && own > 0)
        arguments[tolerance] = Bits(FitProfile::ParseBits(arguments.at(tolerance)) * bits / own);
    arguments[rate] = Bits(bits);
    return true;
}

bool FitArguments::SetSoundRate(QStringList &arguments, const SoundRate &rate)
{
    const bool amr = !arguments.isEmpty() && arguments.first().contains(QLatin1String("amrenc"));
    const qsizetype at =
        amr ? ValueAfter(arguments, {QStringLiteral("--mode"), QStringLiteral("-m")})
            : ValueAfter(arguments, {QStringLiteral("-b:a")});
    if (at < 0)
        return false;
    arguments[at] = rate.value;
    return true;
}

QStringList FitArguments::AnalysisRun(const QStringList &passOne, const QString &prefix,
                                      const QString &aacRate)
{
    const qsizetype format = OutputFormat(passOne);
    if (format < 0)
        return {};
    // The statistics need the picture's complexity, not the encoder's best decisions: without
    // these the run takes 10-55 % less time and the second lands as close to its rate.
    static const QStringList decisions{QStringLiteral("-mbd"),       QStringLiteral("-trellis"),
                                       QStringLiteral("-cmp"),       QStringLiteral("-subcmp"),
                                       QStringLiteral("-mpv_flags"), QStringLiteral("-dia_size"),
                                       QStringLiteral("-last_pred"), QStringLiteral("-precmp")};
    QStringList run;
    for (qsizetype i = 0; i < format; ++i) {
        if (decisions.contains(passOne.at(i)) && i + 1 < format)
            ++i;
        else
            run << passOne.at(i);
    }
    const qsizetype codec = ValueAfter(run, {QStringLiteral("-c:a"), QStringLiteral("-acodec")});
    if (!aacRate.isEmpty() && codec >= 0) {
        run[codec] = QStringLiteral("aac");
        run.insert(codec + 1, QStringLiteral("-b:a"));
        run.insert(codec + 2, aacRate);
    } else {
        run << QStringLiteral("-an");
    }
    return run + QStringList{QStringLiteral("-pass"),
                             QStringLiteral("1"),
                             QStringLiteral("-passlogfile"),
                             prefix,
                             QStringLiteral("-f"),
                             QStringLiteral("null"),
                             QStringLiteral("-")};
}

qint64 FitArguments::SoundBytes(const QByteArray &lastLines)
{
    // FFmpeg 5.1 writes "audio:187kB", later ones "audio:187KiB"; both count 1024 bytes.
    static const QRegularExpression summary(QStringLiteral("audio:\\s*(\\d+)(?:kB|KiB)"));
    qint64 bytes = -1;
    for (QRegularExpressionMatchIterator it = summary.globalMatch(QString::fromLatin1(lastLines));
         it.hasNext();)
        bytes = it.next().captured(1).toLongLong() * 1024;
    return bytes;
}

QStringList FitArguments::EncodingRun(const QStringList &passOne, const QString &prefix)
{
    const qsizetype format = OutputFormat(passOne);
    if (format < 0)
        return {};
    QStringList run = passOne;
    run.insert(format, QStringLiteral("-pass"));
    run.insert(format + 1, QStringLiteral("2"));
    run.insert(format + 2, QStringLiteral("-passlogfile"));
    run.insert(format + 3, prefix);
    return run;
}

QStringList FitArguments::StatisticsFiles(const QString &prefix)
{
    const QString log = prefix + QStringLiteral("-0.log");
    return {log + QStringLiteral(".temp"), log + QStringLiteral(".mbtree.temp"), log,
            log + QStringLiteral(".mbtree")};
}

double FitArguments::CoarsestBits(const QByteArray &statistics)
{
    // "in:1 out:1 type:2 q:965 itex:575 ptex:7589 mv:796 misc:594 ...;": q in lambda units
    // (118 a quantiser step), texture bits of intra and predicted blocks, vectors, the rest.
    constexpr double coarsest = 31.0 * 118.0;
    static const QRegularExpression field(QStringLiteral("(q|itex|ptex|mv|misc):(\\d+)"));
    double bits = 0;
    int pictures = 0;
    for (const QByteArray &line : statistics.split('\n')) {
        QHash<QString, double> value;
        for (QRegularExpressionMatchIterator it = field.globalMatch(QString::fromLatin1(line));
             it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            value.insert(m.captured(1), m.captured(2).toDouble());
        }
        if (value.size() < 5)
            continue;
        const double texture =
            value.value(QStringLiteral("itex")) + value.value(QStringLiteral("ptex"));
        bits += (texture + 1) * value.value(QStringLiteral("q")) / coarsest +
                value.value(QStringLiteral("mv")) + value.value(QStringLiteral("misc"));
        ++pictures;
    }
    return pictures > 0 ? bits : -1;
}

QStringList FitArguments::MeasureRun(const QString &source)
{
    return {QStringLiteral("ffmpeg"),         QStringLiteral("-hide_banner"),
            QStringLiteral("-nostdin"),       QStringLiteral("-i"),
            QStringLiteral("file:") + source, QStringLiteral("-map"),
            QStringLiteral("0:v:0"),          QStringLiteral("-c"),
            QStringLiteral("copy"),           QStringLiteral("-f"),
            QStringLiteral("null"),           QStringLiteral("-")};
}

double FitArguments::MeasuredSeconds(const QByteArray &lastLines, const FrameRate &rate)
{
    // "frame=  240 fps=0.0 q=-1.0 Lsize=N/A time=00:00:07.96 ...": 240 pictures, at 30 fps
    // 8.0 s; at a rate not known, the last at 7.96 s, each 7.96 / 239 s on average.
    static const QRegularExpression status(
        QStringLiteral("frame=\\s*(\\d+)[^\\r\\n]*?time=(\\d+):(\\d\\d):(\\d\\d(?:\\.\\d+)?)"));
    double seconds = -1;
    for (QRegularExpressionMatchIterator it = status.globalMatch(QString::fromLatin1(lastLines));
         it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const qint64 frames = m.captured(1).toLongLong();
        const double last = m.captured(2).toDouble() * 3600 + m.captured(3).toDouble() * 60 +
                            m.captured(4).toDouble();
        if (rate.IsValid())
            seconds = rate.Seconds(frames);
        else if (frames > 1)
            seconds = last * double(frames) / double(frames - 1);
    }
    return seconds;
}

bool FitArguments::CutLeadIn(QStringList &passOne, double leadSeconds)
{
    const qsizetype input = passOne.lastIndexOf(QStringLiteral("-i"));
    const qsizetype start =
        input < 0 ? -1 : ValueAfter(passOne.mid(0, input), {QStringLiteral("-ss")});
    const qsizetype length =
        input < 0 ? -1 : ValueAfter(passOne.mid(0, input), {QStringLiteral("-t")});
    const qsizetype outputLength = ValueAfter(passOne, {QStringLiteral("-t")}, input + 1);
    bool startOk = false, lengthOk = false;
    const double begin = start < 0 ? 0 : passOne.at(start).toDouble(&startOk);
    const double seconds = length < 0 ? 0 : passOne.at(length).toDouble(&lengthOk);
    if (!startOk || !lengthOk || outputLength < 0 || OutputFormat(passOne) < 0)
        return false;
    if (!(leadSeconds > 0))
        return true;
    passOne[start] = CommandTemplate::ExactSeconds(begin - leadSeconds);
    passOne[length] = CommandTemplate::ExactSeconds(seconds + leadSeconds);
    passOne.insert(outputLength - 1, QStringLiteral("-ss"));
    passOne.insert(outputLength, CommandTemplate::ExactSeconds(leadSeconds));
    return true;
}
