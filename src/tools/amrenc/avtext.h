// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Throws ToolError("<what>: <FFmpeg's text for result>") when result is negative.
void CheckAv(int result, const std::string &what);
std::string AvErrorText(int result);
