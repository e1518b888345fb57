#pragma once

#include "platform/HistoryStore.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

// A history file kept in memory: `stored` is what a read finds, and what an update replaces.
// A window writes it from a thread of its own: while a write may run, use the locked methods.
class MemoryHistoryStore final : public platform::HistoryStore {
public:
    platform::StoredHistory stored;
    int updates = 0;
    std::string failWith;     // when set, every update fails with this and changes nothing
    bool outOfMemory = false; // when set, every read and update throws std::bad_alloc
    std::chrono::milliseconds lockWait{-1}; // what the last update would wait for the lock
    // Called with the new contents made, before they are kept: a disk slow to flush, say.
    std::function<void()> whileWriting = [] {
    };
    std::function<void()> whileWaitingForTheLock = [] {
    }; // another copy's write, say

    std::string location() const override { return "memory"; }

    platform::StoredHistory read() override {
        if (outOfMemory) {
            throw std::bad_alloc();
        }
        return stored;
    }

    Outcome update(const Rewrite& rewrite, std::chrono::milliseconds wait) override {
        const std::lock_guard lock(mutex_);
        ++updates;
        lockWait = wait;
        enter(platform::WritePhase::WaitingForLock);
        whileWaitingForTheLock();
        enter(platform::WritePhase::None);
        if (!failWith.empty()) {
            return {failWith};
        }
        if (const std::optional<platform::Replacement> replacement = rewrite(read())) {
            enter(platform::WritePhase::Flushing);
            whileWriting();
            enter(platform::WritePhase::None);
            stored.state = platform::StoredHistory::State::Present;
            stored.bytes = replacement->bytes;
            std::erase_if(stored.cutShortWrites, [&](const platform::CutShortWrite& write) {
                return std::count(replacement->taken.begin(), replacement->taken.end(), write.name);
            });
        }
        return {};
    }

    // The file as it stands, or nothing when there is none.
    std::string bytes() const {
        return locked([this] { return stored.bytes; });
    }
    int tries() const {
        return locked([this] { return updates; });
    }
    void fail(std::string reason) {
        locked([&] { failWith = std::move(reason); });
    }

    void holdBytes(std::string bytes) {
        stored.state = platform::StoredHistory::State::Present;
        stored.bytes = std::move(bytes);
    }

private:
    static inline std::recursive_mutex mutex_; // one for all, so that a store can still be copied
    template <typename Step> auto locked(Step step) const -> decltype(step()) {
        const std::lock_guard lock(mutex_);
        return step();
    }
};
