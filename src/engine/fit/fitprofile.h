// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fit/containerbytes.h"
#include "fit/picturerate.h"

#include <QList>
#include <QString>

struct Profile;

// One rate the sound may take, as its tool is told it and as it lies on disk.
struct SoundRate {
    QString value;             // "MR122" (kestrani-amrenc --mode), "48k" (ffmpeg -b:a)
    double bitsPerSecond = 0;  // what it is called
    double bytesPerSecond = 0; // what the stream takes in the file, measured
};

// What a profile offers to a size limit: its own rates, read from its passes (the picture's
// -b:v and -maxrate of pass 1, the sound's --mode or -b:a of the pass that encodes it), and
// how far they may be lowered, from its "Fit" entry: "Fit=32k MR475" is the lowest picture
// rate still worth watching and the lowest sound rate its phones play.
class FitProfile
{
public:
    enum class Sound { Amr, Aac };

    // Invalid, with *error saying why, when the passes set no picture or sound rate, or the
    // Fit entry cannot be read. A profile without a Fit entry may lower its picture to a
    // quarter of its rate and keeps its sound.
    static FitProfile Read(const Profile &profile, int passCount, QString *error = nullptr);
    bool IsValid() const { return pictureBits > 0 && !sounds.isEmpty(); }

    double PictureBits() const { return pictureBits; } // bits per second, the profile's own
    double LowestPictureBits() const { return lowestPictureBits; }
    Sound SoundCodec() const { return sound; }
    int SoundPass() const { return soundPass; }
    // The profile's own sound rate first, then every lower one down to the lowest it may take.
    const QList<SoundRate> &Sounds() const { return sounds; }
    const PictureRateRule &PictureRate() const { return pictureRate; }
    // The streams of an output at this picture rate (invalid: the fastest the profile makes),
    // for counting the container's bytes.
    ContainerBytes::Stream Streams(const FrameRate &rate, bool hasSound) const;

    // A rate as profiles write it: "112k", "1.5M", "655360"; 0 when it is none.
    static double ParseBits(const QString &text);
    // The sound rates of a codec from `from` down to `lowest`, as the tool takes them; empty
    // when either is not one of the codec's rates or `lowest` is above `from`.
    static QList<SoundRate> SoundLadder(Sound codec, const QString &from, const QString &lowest);

private:
    double pictureBits = 0;
    double lowestPictureBits = 0;
    Sound sound = Sound::Amr;
    int soundPass = 0;
    double soundFrameRate = 50; // AMR's 20 ms frames; AAC's of 1024 samples
    QList<SoundRate> sounds;
    PictureRateRule pictureRate;
};
