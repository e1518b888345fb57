#pragma once

namespace window {

// Gives the application the one style and font size that the fixed layout is measured in, so
// that every caption fits its box on any desktop. Call once, after the QApplication exists.
void applyAppearance();

} // namespace window
