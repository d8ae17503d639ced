// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window needs before its first paint that it can have on other threads while its own
// thread builds it: the system's list of fonts (which the first text needs; reading it is a
// good part of the start-up), begun before the application object connects to the display, and
// the pictures the window shows at once, read as soon as that object exists (Qt's picture
// readers are not to be used before it). On a machine of more than one core the work goes on
// side by side.
namespace StartupWork {

// Starts reading the fonts; returns `argc` so that it can run inside the application object's
// constructor call, before the object itself is built.
int &Begin(int &argc);
// Starts reading the pictures; the application object exists.
void ApplicationBuilt();
// Waits for the work to end (the application object's end).
void Finish();

} // namespace StartupWork
