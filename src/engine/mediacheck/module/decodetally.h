// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "loudnessmeter.h"
#include "packetscan.h"

#include <optional>

// Decodes one stream's packets as they are read and counts those that do not decode cleanly:
// packets the decoder refuses, pictures it conceals or never gives, AMR-NB frames marked bad
// (a decoder plays those as noise without a word).
class DecodeTally
{
public:
    // With `meter`, the decoded sound is also measured for its loudness.
    explicit DecodeTally(const AVStream *stream, bool meter = false);

    bool CanDecode() const { return decoder != nullptr; }
    void Take(const AVPacket *packet);
    // Drains the decoder: the last pictures come out only now.
    void Finish();

    // The sound's loudness; NaN when not metered, or when its samples cannot be read.
    SoundLevels Levels() const;

    int packets = 0; // packets given
    int damaged = 0; // of those, the ones that did not decode cleanly

private:
    void Receive();
    void Meter(const AVFrame *sound);

    const AVStream *stream;
    Decoder decoder;
    Frame frame;
    int frames = 0;
    bool metering = false; // asked for, and every frame so far could be measured
    std::optional<LoudnessMeter> meter;
    std::vector<float> samples; // the frame being measured, interleaved
};
