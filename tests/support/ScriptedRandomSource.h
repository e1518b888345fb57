#pragma once

#include "platform/RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// A random source that returns the codes it was given, in order, so that every generator case
// is exact. Running out of codes is a test failure, not a hang.
class ScriptedRandomSource final : public platform::RandomSource {
public:
    explicit ScriptedRandomSource(std::vector<std::int16_t> codes)
        : codes_(std::move(codes)) {}

    std::int16_t nextCode() override {
        if (next_ == codes_.size()) {
            throw std::runtime_error("the generator drew more codes than the script holds");
        }
        return codes_[next_++];
    }

    std::size_t drawn() const { return next_; }

private:
    std::vector<std::int16_t> codes_;
    std::size_t next_ = 0;
};
