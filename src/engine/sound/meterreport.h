// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <limits>
#include <optional>

// What a loudness meter gives for a stretch of sound (EBU R128 / ITU-R BS.1770). A figure
// the meter did not print stays NaN.
struct LoudnessReading {
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();
    double integrated = none; // LUFS; -70 when no 400 ms block passed the absolute gate
    double range = none;      // LU between the 10th and 95th percentile of short-term loudness
    double rangeLow = none;   // LUFS, the 10th percentile
    double rangeHigh = none;  // LUFS, the 95th percentile
    double truePeak = none;   // dBTP; minus infinity for digital silence
};

// Reads what ffmpeg prints when its ebur128 and astats filters end: each filter instance
// named in the graph ("ebur128@source", "astats@source": instance "source") prints its own
// summary, so one run can measure several branches. A graph that ffmpeg configures twice prints an
// empty summary first: the last one of an instance counts. Odd or cut text gives fewer figures,
// never a wrong one taken from another instance, and never a crash.
class MeterReport
{
public:
    static MeterReport Read(QByteArrayView text);

    // The last summary the ebur128 instance printed; nullopt when it printed none. An instance
    // the graph did not name goes by ffmpeg's own name ("Parsed_ebur128_0").
    std::optional<LoudnessReading> Loudness(const QString &instance) const;
    // An overall figure the astats instance printed ("DC offset", "Number of samples"),
    // read as a number ("-nan" reads as NaN); nullopt when it printed no such line.
    std::optional<double> Stat(const QString &instance, const QString &key) const;

private:
    QHash<QString, LoudnessReading> summaries;
    QHash<QString, QHash<QString, double>> stats;
};
