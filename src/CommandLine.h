#pragma once

#include <optional>

// What the program does with its command line before any window exists, so that --help and
// --version work without a display, and a missing display is one clear line rather than Qt's
// abort.

// Handles --help and --version: prints and returns the exit status. Returns nothing when the
// program is to go on. Qt's own options are left for QApplication.
std::optional<int> handleInformationOptions(int argc, char* argv[]);

// Whether the platform Qt will use has a display to show the window on: an X11 display, a Wayland
// compositor, or a platform that needs neither (offscreen, vnc, ...), by QT_QPA_PLATFORM or
// -platform.
bool hasDisplay(int argc, char* argv[]);

// Reports the arguments that QApplication did not take as its own and returns the exit status
// for them; returns nothing when there are none.
std::optional<int> rejectUnknownArguments(int argc, char* argv[]);
