// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// Writes a 3GP file with the input's first video stream copied unchanged and its first audio
// stream encoded to AMR-NB 8 kHz mono. An input without audio gives a video-only file. The
// output appears only when it is complete; input and output may be the same file. With an
// H.263 level, the output's H.263 track declares that level instead of the muxer's 10.
class AmrTranscoder
{
public:
    AmrTranscoder(std::string inputPath, std::string outputPath, int mode,
                  std::optional<int> h263Level = std::nullopt);
    void Run(); // throws ToolError

private:
    std::string inputPath;
    std::string outputPath;
    int mode;
    std::optional<int> h263Level;
};
