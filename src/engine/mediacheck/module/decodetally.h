// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "packetscan.h"

// Decodes one stream's packets as they are read and counts those that do not decode cleanly:
// packets the decoder refuses, pictures it conceals or never gives, AMR-NB frames marked bad
// (a decoder plays those as noise without a word).
class DecodeTally
{
public:
    explicit DecodeTally(const AVStream *stream);

    bool CanDecode() const { return decoder != nullptr; }
    void Take(const AVPacket *packet);
    // Drains the decoder: the last pictures come out only now.
    void Finish();

    int packets = 0; // packets given
    int damaged = 0; // of those, the ones that did not decode cleanly

private:
    void Receive();

    const AVStream *stream;
    Decoder decoder;
    Frame frame;
    int frames = 0;
};
