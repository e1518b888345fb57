#pragma once

namespace window {

// Makes screen readers see LengthSpinner as what it is: a spin button whose value is the length
// (5..12), which Increase raises, which a reader may set, and whose every change is announced
// with the new length. A plain scroll bar's accessible value is its mirrored raw value. Call
// before the first LengthSpinner is made; calling again does nothing.
void installLengthSpinnerAccessibility();

} // namespace window
