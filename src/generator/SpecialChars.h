#pragma once

#include <array>
#include <cstdint>

namespace generator {

// The eight special characters a password may contain when they are allowed.
using SpecialCharTable = std::array<std::int16_t, 8>;

// The table in its fixed slot order: ! # $ % & @ * ^
SpecialCharTable standardSpecialChars();

// True when `code` is one of the table's eight characters.
bool IsSpecialChar(const SpecialCharTable& specialChars, std::int16_t code);

} // namespace generator
