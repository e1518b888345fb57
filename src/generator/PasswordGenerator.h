#pragma once

#include "platform/RandomSource.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace generator {

// The eight special characters a password may contain when they are allowed.
using SpecialCharTable = std::array<std::int16_t, 8>;

// The table in its fixed slot order: ! # $ % & @ * ^
SpecialCharTable standardSpecialChars();

// True when `code` is one of the table's eight characters.
bool IsSpecialChar(const SpecialCharTable& specialChars, std::int16_t code);

// The user's rules as the window shows them at one moment.
struct Rules {
    std::int16_t length = 7; // 5..12
    bool allowCaps = true;
    bool allowDigits = true;
    bool allowSpecialChars = true;
    bool mustStartWithLetter = true;
};

// Builds a password by drawing codes 0..122 and keeping those the rules allow, until the
// password is as long as the rules say. The rules are read afresh before every draw, so the
// result always matches the controls as they stand. Lower-case letters are always allowed, so
// the loop ends; it never produces '"' or ',', which the history file relies on.
std::string generatePassword(platform::RandomSource& random, const SpecialCharTable& specialChars,
                             const std::function<Rules()>& readRules);

} // namespace generator
