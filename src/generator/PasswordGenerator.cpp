#include "generator/PasswordGenerator.h"

namespace generator {

SpecialCharTable standardSpecialChars() {
    return {'!', '#', '$', '%', '&', '@', '*', '^'};
}

bool IsSpecialChar(const SpecialCharTable& specialChars, std::int16_t code) {
    bool found = false;
    for (const std::int16_t special : specialChars) {
        found |= special == code;
    }
    return found;
}

namespace {

bool isLowerCase(std::int16_t c) {
    return c >= 'a' && c <= 'z';
}
bool isCapital(std::int16_t c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(std::int16_t c) {
    return c >= '0' && c <= '9';
}

bool acceptsAsFirstLetter(const Rules& rules, std::int16_t c) {
    return isLowerCase(c) || (rules.allowCaps && isCapital(c));
}

// The tests in their fixed order; the first that holds accepts the code.
bool acceptsAnywhere(const Rules& rules, const SpecialCharTable& specialChars, std::int16_t c) {
    return isLowerCase(c) || (rules.allowDigits && isDigit(c)) ||
           (rules.allowCaps && isCapital(c)) ||
           (rules.allowSpecialChars && IsSpecialChar(specialChars, c));
}

} // namespace

std::string generatePassword(platform::RandomSource& random, const SpecialCharTable& specialChars,
                             const std::function<Rules()>& readRules) {
    std::string CurrentPassword;
    for (;;) {
        const Rules rules = readRules();
        if (CurrentPassword.size() >= static_cast<std::size_t>(rules.length)) {
            return CurrentPassword;
        }
        const std::int16_t c = random.nextCode();
        const bool accepted = CurrentPassword.empty() && rules.mustStartWithLetter
                                  ? acceptsAsFirstLetter(rules, c)
                                  : acceptsAnywhere(rules, specialChars, c);
        if (accepted) {
            CurrentPassword.push_back(static_cast<char>(c));
        }
    }
}

} // namespace generator
