// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The sound a profile makes: the rate and channels pass 1 writes it in, and the encoder a later
// pass turns it into. Loudness is measured and set on the sound in this form, so that a mono
// output is measured as mono and an 8 kHz one without what lies above 4 kHz.
struct SoundFormat {
    enum class Encoder { Other, Aac, AmrNb };

    int sampleRate = 0;
    int channels = 0;
    Encoder encoder = Encoder::Other;
    int bitsPerSecond = 0; // the encoder's rate: AAC's "-b:a", an AMR mode's; 0 when not said

    // Reads the arguments of a profile's passes, program first: "-ar" and "-ac" of pass 1, then
    // the first later pass that encodes the sound: ffmpeg with "-c:a aac" (its own "-ar", "-ac"
    // and "-b:a"), or kestrani-amrenc (8 kHz mono, "--mode"/"-m", MR122 when not given).
    // nullopt when pass 1 does not say both the rate and the channels.
    static std::optional<SoundFormat> FromPasses(const QList<QStringList> &passes);

    // "mono", "stereo", or "Nc" as ffmpeg's channel layouts are named.
    QString ChannelLayout() const;

    // Measured on Debian 12's ffmpeg 5.1 and libopencore-amrnb with speech, music and real
    // sample videos brought to -16 LUFS (see soundformat.cpp for the figures):
    // how much loudness the encoder takes away from ordinary sound, in LU, so that the gain
    // before it can make up for it;
    double LoudnessAllowance() const;
    // and the true peak in dBTP the sound may reach before the encoder so that the decoded
    // file stays at or under -1 dBTP: both encoders raise the peaks of what they are given.
    double PeakCeiling() const;
};
