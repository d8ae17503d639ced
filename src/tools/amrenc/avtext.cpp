// SPDX-License-Identifier: GPL-3.0-or-later
#include "avtext.h"

#include "toolerror.h"

extern "C" {
#include <libavutil/error.h>
}

std::string AvErrorText(int result)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof(text));
    return text;
}

void CheckAv(int result, const std::string &what)
{
    if (result < 0)
        throw ToolError(what + ": " + AvErrorText(result));
}
