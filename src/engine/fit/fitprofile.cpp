// SPDX-License-Identifier: GPL-3.0-or-later
#include "fit/fitprofile.h"

#include "profiles/profilecatalog.h"

#include <QProcess>
#include <QRegularExpression>

#include <array>

namespace {

struct AmrMode {
    const char *name;
    int bits;       // per second
    int frameBytes; // one 20 ms frame as the 3GP holds it: a header byte and the bits
};
// The eight band modes of AMR-NB, best first.
const std::array<AmrMode, 8> amrModes{{{"MR122", 12200, 32},
                                       {"MR102", 10200, 27},
                                       {"MR795", 7950, 21},
                                       {"MR74", 7400, 20},
                                       {"MR67", 6700, 18},
                                       {"MR59", 5900, 16},
                                       {"MR515", 5150, 14},
                                       {"MR475", 4750, 13}}};

// The AAC rates a profile may step down through, best first.
const std::array<int, 11> aacKbits{{128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16}};
// FFmpeg's AAC encoder spends up to 2 % over its rate (measured on tones, noise and music at
// 22050 Hz mono from 12k, 32000 and 44100 Hz stereo from 24k); below those it spends far more.
constexpr double aacSpending = 1.02;

int AmrIndex(const QString &value)
{
    const double bits = FitProfile::ParseBits(value);
    for (int i = 0; i < int(amrModes.size()); ++i)
        if (value.compare(QLatin1String(amrModes[i].name), Qt::CaseInsensitive) == 0 ||
            qRound(bits) == amrModes[i].bits)
            return i;
    return -1;
}

int AacIndex(const QString &value)
{
    const double bits = FitProfile::ParseBits(value);
    for (int i = 0; i < int(aacKbits.size()); ++i)
        if (qRound(bits) == aacKbits[i] * 1000)
            return i;
    return -1;
}

// The value after `option` in a template's arguments; empty when there is none.
QString OptionValue(const QString &passTemplate, const QStringList &options)
{
    const QStringList arguments = QProcess::splitCommand(passTemplate);
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i)
        if (options.contains(arguments.at(i)))
            return arguments.at(i + 1);
    return QString();
}

} // namespace

double FitProfile::ParseBits(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d+(?:\\.\\d+)?)([kKmM]?)$"));
    const QRegularExpressionMatch m = shape.match(text.trimmed());
    if (!m.hasMatch())
        return 0;
    const QString unit = m.captured(2).toLower();
    return m.captured(1).toDouble() * (unit == u'k' ? 1e3 : unit == u'm' ? 1e6 : 1.0);
}

QList<SoundRate> FitProfile::SoundLadder(Sound codec, const QString &from, const QString &lowest)
{
    QList<SoundRate> ladder;
    if (codec == Sound::Amr) {
        const int first = AmrIndex(from), last = AmrIndex(lowest);
        if (first < 0 || last < first)
            return ladder;
        for (int i = first; i <= last; ++i)
            ladder.append({QString::fromLatin1(amrModes[i].name), double(amrModes[i].bits),
                           amrModes[i].frameBytes * 50.0});
        return ladder;
    }
    const double own = ParseBits(from);
    const int last = AacIndex(lowest);
    if (own <= 0 || last < 0 || aacKbits[last] * 1000 > own)
        return ladder;
    // The profile's own rate need not be a step: it comes first, then the steps below it.
    ladder.append({from, own, own * aacSpending / 8.0});
    for (int i = 0; i <= last; ++i)
        if (aacKbits[i] * 1000 < own)
            ladder.append({QStringLiteral("%1k").arg(aacKbits[i]), aacKbits[i] * 1000.0,
                           aacKbits[i] * 1000.0 * aacSpending / 8.0});
    return ladder;
}

FitProfile FitProfile::Read(const Profile &profile, int passCount, QString *error)
{
    FitProfile fit;
    const auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        return FitProfile();
    };
    const QString first = profile.PassTemplate(1);
    const double rate = ParseBits(OptionValue(first, {QStringLiteral("-b:v")}));
    const double cap = ParseBits(OptionValue(first, {QStringLiteral("-maxrate")}));
    if (rate <= 0)
        return refuse(QStringLiteral("its first pass sets no picture rate (-b:v)"));
    fit.pictureBits = cap > 0 ? qMin(rate, cap) : rate;
    fit.pictureRate = PictureRateRule::FromPassTemplate(first);

    QString ownSound;
    for (int pass = 1; pass <= passCount && ownSound.isEmpty(); ++pass) {
        const QString text = profile.PassTemplate(pass);
        if (const QString mode =
                OptionValue(text, {QStringLiteral("--mode"), QStringLiteral("-m")});
            !mode.isEmpty() && text.contains(QLatin1String("kestrani-amrenc"))) {
            fit.sound = Sound::Amr;
            ownSound = mode;
        } else if (const QString aac = OptionValue(text, {QStringLiteral("-b:a")});
                   !aac.isEmpty()) {
            fit.sound = Sound::Aac;
            ownSound = aac;
            // The sound keeps the rate the first pass resampled it to.
            const double rate = ParseBits(OptionValue(first, {QStringLiteral("-ar")}));
            fit.soundFrameRate = (rate > 0 ? rate : 44100.0) / 1024.0;
        }
        if (!ownSound.isEmpty())
            fit.soundPass = pass;
    }
    if (ownSound.isEmpty())
        return refuse(QStringLiteral("none of its passes sets a sound rate (--mode or -b:a)"));

    const QString entry = profile.Entry(QStringLiteral("Fit")).simplified();
    const QStringList fields = entry.split(u' ', Qt::SkipEmptyParts);
    fit.lowestPictureBits = fields.isEmpty() ? fit.pictureBits / 4 : ParseBits(fields.value(0));
    const QString lowestSound = fields.size() > 1 ? fields.at(1) : ownSound;
    fit.sounds = SoundLadder(fit.sound, ownSound, lowestSound);
    if (!entry.isEmpty() && (fields.size() != 2 || fit.lowestPictureBits <= 0 ||
                             fit.lowestPictureBits > fit.pictureBits || fit.sounds.isEmpty()))
        return refuse(QStringLiteral("its Fit entry \"%1\" is not written as \"LOWEST-PICTURE "
                                     "LOWEST-SOUND\" below its own rates (\"32k MR475\")")
                          .arg(entry));
    if (fit.sounds.isEmpty())
        return refuse(
            QStringLiteral("its sound rate \"%1\" is not one this program knows").arg(ownSound));
    return fit;
}

ContainerBytes::Stream FitProfile::Streams(const FrameRate &rate, bool hasSound) const
{
    ContainerBytes::Stream stream;
    const FrameRate output = rate.IsValid() ? rate : pictureRate.Cap();
    stream.pictureRate = output.IsValid() ? output.Value() : 30.0;
    stream.soundFrameRate = soundFrameRate;
    stream.soundSizesVary = sound == Sound::Aac;
    stream.hasSound = hasSound;
    return stream;
}
