#pragma once

#include <cstdint>

namespace platform {

// The generator's only source of chance: one character code at a time.
class RandomSource {
public:
    static constexpr std::int16_t HighestCode = 122;

    virtual ~RandomSource() = default;

    // A code drawn uniformly from 0..HighestCode, independent of every earlier draw.
    virtual std::int16_t nextCode() = 0;
};

} // namespace platform
