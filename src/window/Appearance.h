#pragma once

class QFont;
class QPalette;

namespace window {

// Gives the application the one style that the fixed layout is measured in, and the design font
// for the dialogs. Call once, after the QApplication exists.
void applyAppearance();

// The font the layout is measured in: the default sans-serif family at 8 point, whatever family
// or size a platform theme (qt6ct, KDE) would impose. At 9 point the longest caption loses its
// last character; larger text is had through display scaling, which scales the whole window.
QFont designFont();

// A complete light palette around the design's light-grey background. The background is fixed,
// so every text colour must be too: under a dark theme the system's light text would vanish on
// it. Every text colour contrasts at least 4.5:1 with the background it is drawn on.
QPalette designPalette();

} // namespace window
