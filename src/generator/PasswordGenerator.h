#pragma once

#include "generator/SpecialChars.h"
#include "platform/RandomSource.h"

#include <cstdint>
#include <functional>
#include <string>

namespace generator {

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
