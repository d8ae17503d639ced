// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

// A failure that ends the tool: its text goes to standard error as it is.
class ToolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The system's text for an errno value, prefixed with what we tried.
std::string SystemError(const std::string &what, int errorNumber);
