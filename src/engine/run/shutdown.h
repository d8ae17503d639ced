// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class EngineHost;

// Turns the computer off after a batch. Where the system refuses (no right to power off, no
// login manager to ask, a power-off it turned down), the host shows the "Warning" box with the
// reason the system gave, and the program goes on running.
void ShutdownComputer(EngineHost &host);
