// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Decoded sound in the output format the decoder was asked for (interleaved samples).
struct AudioChunk {
    QByteArray samples;
    double pts = 0.0;      // seconds from the start of the clip of the first sample
    double duration = 0.0; // seconds of sound held
};
