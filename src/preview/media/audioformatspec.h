// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the sound output wants: interleaved samples at this rate and channel count, either signed
// 16-bit or 32-bit float. A zero rate means "no sound wanted".
struct AudioFormatSpec {
    int sampleRate = 0;
    int channels = 0;
    bool floatSamples = false;

    bool IsValid() const { return sampleRate > 0 && channels > 0; }
    int BytesPerFrame() const { return channels * (floatSamples ? 4 : 2); }
};
