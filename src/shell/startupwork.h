// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window needs before its first paint that needs no display: the pictures it shows at
// once and the system's list of fonts (which the first text needs; reading it is a good part
// of the start-up). Begun on a thread of its own before the application object connects to
// the display, so that the two go on side by side on a machine of more than one core.
namespace StartupWork {

// Starts the work; returns `argc` so that it can run inside the application object's
// constructor call, before the object itself is built.
int &Begin(int &argc);
// Waits for the work to end (the application object's end).
void Finish();

} // namespace StartupWork
