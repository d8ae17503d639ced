// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The bytes a finished 3GP or 3G2 file takes besides its picture and sound, measured on the
// shipped profiles' outputs (5 s to 10 min, every profile): about 1.2-1.4 KB of boxes, the
// title, and sample tables that grow with the length. Both our AMR step and FFmpeg put each
// picture in a chunk of its own with the sound since the last picture in another, so every
// picture costs its size and two chunk offsets (12 bytes), every AAC frame its size (4; AMR
// frames all have one size), and every change in the number of sound frames per chunk an
// entry of 12 bytes. The estimate is never below the files and at most 0.5 % above them
// (0.7 KB of AMR files, 2.7 KB of AAC ones at 30 fps, after 10 minutes).
class ContainerBytes
{
public:
    struct Stream {
        double pictureRate = 15;     // pictures per second
        double soundFrameRate = 50;  // AMR: 50 frames a second; AAC: sample rate / 1024
        bool soundSizesVary = false; // AAC frames each have their size in the table
        bool hasSound = true;
    };

    static qint64 For(double seconds, const Stream &stream, qsizetype titleBytes);
    // The boxes whatever the length: file type, movie and track headers, codec set-up, edit
    // lists, the sound's priming note; the most any shipped profile's file needed.
    static constexpr qint64 fixedBytes = 1500;
};
