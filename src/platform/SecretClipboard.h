#pragma once

#include <QString>

namespace platform {

// The MIME type by which clipboard managers recognise a secret and keep it out of their history.
inline constexpr char PasswordManagerHintType[] = "x-kde-passwordManagerHint";

// Puts `text` on the clipboard as plain text, marked as a secret so that clipboard managers
// leave it out of their history. Pasting anywhere still gets the plain text.
void copySecretToClipboard(const QString& text);

} // namespace platform
