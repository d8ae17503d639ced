// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <limits>

struct ConversionTask;
struct SourceInfo;

// What a finished file must be. Empty lists and zero numbers leave that property unchecked.
struct OutputExpectation {
    QStringList brands; // the major brand or a compatible one is among these
    QStringList codecs; // video codec names as libavcodec spells them ("h263")
    int width = 0;      // picture size in pixels
    int height = 0;
    double maxFrameRate = 0.0;    // frames per second the picture may not exceed
    double durationSeconds = 0.0; // how long the picture must last: the part, or up to where
                                  // the source's pictures end within it
    // How long the source's last picture shows: a picture may end that much early, as tools
    // end it where the last source picture begins. 0: one picture of the output's rate.
    double lastPictureSeconds = 0.0;
    bool expectSound = false;  // the source has sound, so the output must carry it
    double soundSeconds = 0.0; // how long the source's sound lasts in the trim; 0: unknown
    // The source and where the part begins in it. A picture that falls short of the part is
    // measured again against where the source's pictures end when decoded: a damaged tail
    // gives fewer than its packets promise. Empty: no second look.
    QString sourcePath;
    double sourceBeginSeconds = 0.0;
    // Measure the decoded sound's loudness as well (SoundLevels).
    bool meterSound = false;

    // The lengths a task's file must have: its part of the source, up to where the source's
    // picture and sound end when that comes first. Brands and the Check entry are not set.
    static OutputExpectation ForPart(const ConversionTask &task, const SourceInfo &source);

    // Takes codecs, size and rate cap from the section entry "Check" (key compared without
    // regard to case), written "h263 176x144 15000/1001": codec names joined by commas, the
    // size, the rate as a fraction or a number. Keys and values are parallel, as a section
    // read returns them. False when there is no such entry, or when it cannot be read (then
    // *error says why and nothing changes).
    bool ReadCheckEntry(const QStringList &keys, const QStringList &values,
                        QString *error = nullptr);
};

// The loudness of a file's decoded sound as ITU-R BS.1770 measures it, as ffmpeg's ebur128
// filter prints it; NaN where it was not measured (no sound, or a format that does not decode).
struct SoundLevels {
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();
    double integrated = none; // LUFS; -70 when no 400 ms block passed the absolute gate
    double truePeak = none;   // dBTP; minus infinity for digital silence
};

// Reads a finished file back to tell a good result from one that the tools only claimed: its
// headers, every packet, and every picture and sound decoded.
class OutputCheck
{
public:
    // Empty when the file meets the expectation; otherwise every way it falls short, in plain
    // words for the log and the command line ("picture is 320x240 instead of 176x144").
    // Called on a thread that is asked to stop (QThread::requestInterruption), it ends early
    // with a reason. With expected.meterSound, *levels gets the sound's loudness.
    static QString Verify(const QString &path, const OutputExpectation &expected,
                          SoundLevels *levels = nullptr);
};
