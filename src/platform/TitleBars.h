#pragma once

namespace platform {

// True when Qt would draw this program's title bars itself: on Wayland, where the compositor
// offers to draw none (GNOME and weston leave them to the program), unless the person has
// turned them off (QT_WAYLAND_DISABLE_WINDOWDECORATION). Call once the application exists.
bool qtWouldDrawTitleBars();

} // namespace platform
