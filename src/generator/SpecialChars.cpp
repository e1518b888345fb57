#include "generator/SpecialChars.h"

namespace generator {

SpecialCharTable standardSpecialChars() {
    return {'!', '#', '$', '%', '&', '@', '*', '^'};
}

bool IsSpecialChar(const SpecialCharTable& specialChars, std::int16_t code) {
    bool found = false;
    for (const std::int16_t special : specialChars) {
        found = found || special == code;
    }
    return found;
}

} // namespace generator
