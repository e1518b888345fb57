#pragma once

#include "platform/RandomSource.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

// Draws from the kernel's cryptographically secure generator (getrandom(2)).
// Deliberately not QRandomGenerator::system() or std::random_device: either may read the CPU's
// RDRAND instead of the kernel, and QRandomGenerator::bounded() is slightly biased.
class SystemRandomSource final : public RandomSource {
public:
    SystemRandomSource() = default;
    ~SystemRandomSource() override;
    SystemRandomSource(const SystemRandomSource&) = delete;
    SystemRandomSource& operator=(const SystemRandomSource&) = delete;

    std::int16_t nextCode() override;

private:
    std::uint8_t nextByte();
    void refill();

    std::array<std::uint8_t, 64> buffer_{};
    std::size_t used_ = buffer_.size();
};

} // namespace platform
