// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// The level an H.263 stream declares in its 3GP sample description (the 'd263' box).
// FFmpeg's muxer always writes level 10, which promises a phone at most 64 kbit/s at QCIF.
namespace h263level {

// Parses a level number of ITU-T H.263 Annex X (10, 20, 30, 40, 45, 50, 60, 70).
std::optional<int> Parse(const std::string &text);

// Sets the level byte of every H.263 track of the finished MP4-family file open on fd (read and
// write). Throws ToolError when the file has no H.263 track or cannot be read or written.
void Write(int fd, int level);

} // namespace h263level
