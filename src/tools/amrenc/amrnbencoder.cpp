// SPDX-License-Identifier: GPL-3.0-or-later
#include "amrnbencoder.h"

#include "toolerror.h"

#include <array>
#include <opencore-amrnb/interf_enc.h>

namespace {

struct ModeInfo {
    const char *name;
    int bitRate;
};

// Indexed by the library's enum Mode, MR475 (0) to MR122 (7).
constexpr std::array<ModeInfo, 8> modes = {{{"MR475", 4750},
                                            {"MR515", 5150},
                                            {"MR59", 5900},
                                            {"MR67", 6700},
                                            {"MR74", 7400},
                                            {"MR795", 7950},
                                            {"MR102", 10200},
                                            {"MR122", 12200}}};

// The largest storage-format frame (MR122) is 32 bytes.
constexpr int maxFrameBytes = 64;

std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::optional<int> RateFromText(const std::string &text)
{
    // "12200" or "12.2k": the digits of the rate, with an optional decimal point before a 'K'.
    std::string digits;
    bool kilo = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == 'K' && i + 1 == text.size())
            kilo = true;
        else if (c != '.' || !digits.size())
            return std::nullopt;
    }
    if (digits.empty() || digits.size() > 6)
        return std::nullopt;
    int value = std::stoi(digits);
    if (kilo) {
        const auto dot = text.find('.');
        const int decimals = dot == std::string::npos ? 0 : int(text.size() - 2 - dot);
        for (int i = decimals; i < 3; ++i)
            value *= 10;
    }
    return value;
}

} // namespace

std::optional<int> AmrNbEncoder::ParseMode(const std::string &text)
{
    const std::string upper = Upper(text);
    const std::optional<int> rate = RateFromText(upper);
    for (size_t i = 0; i < modes.size(); ++i)
        if (upper == modes[i].name || rate == modes[i].bitRate)
            return int(i);
    return std::nullopt;
}

int AmrNbEncoder::BitRate(int mode)
{
    return modes.at(size_t(mode)).bitRate;
}

std::string AmrNbEncoder::ModeNames()
{
    std::string names;
    for (const ModeInfo &m : modes)
        names += std::string(names.empty() ? "" : ", ") + m.name;
    return names;
}

AmrNbEncoder::AmrNbEncoder(int mode) : state(Encoder_Interface_init(0)), mode(mode)
{
    if (!state)
        throw ToolError("cannot start the AMR-NB encoder");
}

AmrNbEncoder::~AmrNbEncoder()
{
    Encoder_Interface_exit(state);
}

std::vector<uint8_t> AmrNbEncoder::EncodeFrame(const int16_t *samples)
{
    std::vector<uint8_t> frame(maxFrameBytes);
    const int size =
        Encoder_Interface_Encode(state, static_cast<Mode>(mode), samples, frame.data(), 0);
    if (size <= 0)
        throw ToolError("the AMR-NB encoder failed");
    frame.resize(size_t(size));
    return frame;
}
