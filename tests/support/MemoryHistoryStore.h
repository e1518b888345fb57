#pragma once

#include "platform/HistoryStore.h"

#include <string>

// A history file kept in memory: `stored` is what a read finds, and what an update replaces.
class MemoryHistoryStore final : public platform::HistoryStore {
public:
    platform::StoredHistory stored;
    int updates = 0;
    std::string failWith; // when set, every update fails with this and changes nothing

    std::string location() const override { return "memory"; }

    platform::StoredHistory read() override { return stored; }

    std::string update(const Rewrite& rewrite) override {
        ++updates;
        if (!failWith.empty()) {
            return failWith;
        }
        if (const std::optional<std::string> bytes = rewrite(stored)) {
            stored.state = platform::StoredHistory::State::Present;
            stored.bytes = *bytes;
        }
        return {};
    }

    // The file as it stands, or nothing when there is none.
    std::string bytes() const { return stored.bytes; }

    void holdBytes(std::string bytes) {
        stored.state = platform::StoredHistory::State::Present;
        stored.bytes = std::move(bytes);
    }
};
