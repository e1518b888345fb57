#pragma once

class QIcon;

namespace window {

// The program's icon, for the window's title bar and the taskbar. Built from raw pixels in the
// program's resources: decoding a PNG or an SVG at start would load Qt's image plugins and cost
// a noticeable part of the start-up time.
QIcon windowIcon();

} // namespace window
