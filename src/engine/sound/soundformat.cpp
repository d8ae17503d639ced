// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/soundformat.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// The value after the last occurrence of one of the options ("-b:a 64k"): ffmpeg takes the last.
QString OptionValue(const QStringList &arguments, const QStringList &names)
{
    QString value;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i)
        if (names.contains(arguments[i]))
            value = arguments[i + 1];
    return value;
}

// "64k", "64000", "1.5M" as bits per second; 0 when it cannot be read.
int Rate(QString text)
{
    double factor = 1;
    if (text.endsWith(u'k') || text.endsWith(u'K'))
        factor = 1000;
    else if (text.endsWith(u'M'))
        factor = 1000000;
    if (factor > 1)
        text.chop(1);
    bool ok = false;
    const double value = text.toDouble(&ok) * factor;
    return ok && value > 0 && value < 1e9 ? int(std::lround(value)) : 0;
}

int Whole(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value > 0 ? value : 0;
}

// kestrani-amrenc's modes by name or by rate ("MR122", "12200", "12.2k").
int AmrModeRate(const QString &mode)
{
    static const QList<std::pair<QString, int>> modes{
        {"MR475", 4750}, {"MR515", 5150}, {"MR59", 5900},   {"MR67", 6700},
        {"MR74", 7400},  {"MR795", 7950}, {"MR102", 10200}, {"MR122", 12200}};
    if (mode.isEmpty())
        return 12200;
    for (const auto &[name, rate] : modes)
        if (mode.compare(name, Qt::CaseInsensitive) == 0)
            return rate;
    return Rate(mode);
}

bool IsProgram(const QStringList &arguments, const QString &name)
{
    return !arguments.isEmpty() && QFileInfo(arguments.front()).baseName() == name;
}

} // namespace

std::optional<SoundFormat> SoundFormat::FromPasses(const QList<QStringList> &passes)
{
    if (passes.isEmpty())
        return std::nullopt;
    SoundFormat format;
    format.sampleRate = Whole(OptionValue(passes.front(), {"-ar"}));
    format.channels = Whole(OptionValue(passes.front(), {"-ac"}));
    if (format.sampleRate <= 0 || format.channels <= 0)
        return std::nullopt;
    for (qsizetype p = 1; p < passes.size(); ++p) {
        const QStringList &pass = passes[p];
        if (IsProgram(pass, "kestrani-amrenc")) {
            format.encoder = Encoder::AmrNb;
            format.sampleRate = 8000; // the tool resamples and mixes down whatever it is given
            format.channels = 1;
            format.bitsPerSecond = AmrModeRate(OptionValue(pass, {"--mode", "-m"}));
            return format;
        }
        const QString codec = OptionValue(pass, {"-c:a", "-codec:a", "-acodec"});
        if (IsProgram(pass, "ffmpeg") && !codec.isEmpty() && codec != "copy") {
            format.encoder = codec == "aac" ? Encoder::Aac : Encoder::Other;
            format.bitsPerSecond = Rate(OptionValue(pass, {"-b:a", "-ab"}));
            if (const int rate = Whole(OptionValue(pass, {"-ar"})))
                format.sampleRate = rate;
            if (const int channels = Whole(OptionValue(pass, {"-ac"})))
                format.channels = channels;
            return format;
        }
    }
    return format;
}

QString SoundFormat::ChannelLayout() const
{
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2)
        return QStringLiteral("stereo");
    return QStringLiteral("%1c").arg(channels);
}

// Loudness lost in AMR-NB, per mode (speech with music or noise under it, real clips; pure
// tones and white noise lose far more and are not ordinary sound): MR515 1.2-1.9 LU, MR74
// 0.7-1.0, MR122 0.3-0.5. The modes between follow their rates. The native AAC encoder keeps
// the loudness of such sound within 0.1 LU at every rate the profiles use.
double SoundFormat::LoudnessAllowance() const
{
    if (encoder != Encoder::AmrNb)
        return 0.0;
    if (bitsPerSecond <= 5150)
        return 1.5;
    if (bitsPerSecond <= 5900)
        return 1.3;
    if (bitsPerSecond <= 6700)
        return 1.0;
    if (bitsPerSecond <= 7950)
        return 0.8;
    return 0.4;
}

// True peaks rise in the encoder by up to (sound limited to its ceiling, then encoded): AMR-NB
// 1.9 dB (MR515), 2.3 (MR74), 3.6 (MR122); AAC at 24 and 32 kbit/s per channel 4.5 dB, at 48
// 2.3, at 64 0.3-1.1. A ceiling this far down leaves the decoded file at or under -1 dBTP.
// Another encoder gets the -1.5 dBTP that keeps a plain encoder from clipping.
double SoundFormat::PeakCeiling() const
{
    switch (encoder) {
    case Encoder::AmrNb:
        return -5.0;
    case Encoder::Aac: {
        const int perChannel = bitsPerSecond / std::max(1, channels);
        if (bitsPerSecond <= 0 || perChannel <= 32000)
            return -5.5;
        return perChannel <= 48000 ? -4.0 : -3.0;
    }
    case Encoder::Other:
        break;
    }
    return -1.5;
}
