// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolerror.h"

#include <cstring>

std::string SystemError(const std::string &what, int errorNumber)
{
    return what + ": " + std::strerror(errorNumber);
}
