// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What a finished file must be. Empty lists and zero numbers leave that property unchecked.
struct OutputExpectation {
    QStringList brands; // the major brand or a compatible one is among these
    QStringList codecs; // video codec names as libavcodec spells them ("h263")
    int width = 0;      // picture size in pixels
    int height = 0;
    double maxFrameRate = 0.0;    // frames per second the picture may not exceed
    double durationSeconds = 0.0; // the trim length the picture must last, within one frame
    bool expectSound = false;     // the source has sound, so the output must carry it
    double soundSeconds = 0.0;    // how long the source's sound lasts in the trim; 0: unknown

    // Takes codecs, size and rate cap from the section entry "Check" (key compared without
    // regard to case), written "h263 176x144 15000/1001": codec names joined by commas, the
    // size, the rate as a fraction or a number. Keys and values are parallel, as a section
    // read returns them. False when there is no such entry, or when it cannot be read (then
    // *error says why and nothing changes).
    bool ReadCheckEntry(const QStringList &keys, const QStringList &values,
                        QString *error = nullptr);
};

// Reads a finished file back to tell a good result from one that the tools only claimed.
class OutputCheck
{
public:
    // Empty when the file meets the expectation; otherwise every way it falls short, in plain
    // words for the log and the command line ("picture is 320x240 instead of 176x144").
    static QString Verify(const QString &path, const OutputExpectation &expected);
};
