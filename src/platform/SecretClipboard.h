#pragma once

#include <QString>

namespace platform {

// The MIME type by which clipboard managers recognise a secret and keep it out of their history.
inline constexpr char PasswordManagerHintType[] = "x-kde-passwordManagerHint";

// Puts `text` on the clipboard as plain text, marked as a secret so that clipboard managers
// leave it out of their history. Pasting anywhere still gets the plain text.
void copySecretToClipboard(const QString& text);

// From now on, whatever this program's widgets put in the selection (X11's and Wayland's
// PRIMARY, which selecting text sets for middle-click paste) carries the same mark. Everything
// this program shows is a password, so every selection is a secret. Call once the application
// exists.
void keepSelectionSecret();

} // namespace platform
