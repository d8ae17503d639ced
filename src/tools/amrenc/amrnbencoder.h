// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// AMR-NB speech frames from 8 kHz mono 16-bit samples. Each frame covers 160 samples
// (20 ms) and comes out in storage format: one table-of-contents byte, then the bits.
class AmrNbEncoder
{
public:
    static constexpr int sampleRate = 8000;
    static constexpr int frameSamples = 160;

    // A mode by its name ("MR122") or its bit rate ("12200", "12.2k"); nullopt when unknown.
    static std::optional<int> ParseMode(const std::string &text);
    static int BitRate(int mode);
    static std::string ModeNames(); // for the help text

    explicit AmrNbEncoder(int mode); // throws ToolError
    ~AmrNbEncoder();
    AmrNbEncoder(const AmrNbEncoder &) = delete;
    AmrNbEncoder &operator=(const AmrNbEncoder &) = delete;

    // Encodes exactly frameSamples samples.
    std::vector<uint8_t> EncodeFrame(const int16_t *samples);

private:
    void *state = nullptr;
    int mode;
};
