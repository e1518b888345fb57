#pragma once

#include "platform/HistoryStore.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <thread>

// A history file kept in memory: `stored` is what a read finds, with the leftovers beside it, and
// what an update replaces.
// A window writes it from a thread of its own: while a write may run, use the locked methods.
class MemoryHistoryStore final : public platform::HistoryStore {
public:
    platform::LockedHistory stored;
    int updates = 0;
    int updatesReturned = 0;
    std::string failWith;     // when set, every update fails with this and changes nothing
    bool outOfMemory = false; // when set, every read and update throws std::bad_alloc
    std::chrono::milliseconds lockWait{-1}; // what the last update would wait for the lock
    // Called with the new contents made, before they are kept: a disk slow to flush, say.
    std::function<void()> whileWriting = [] {
    };
    std::function<void()> whileWaitingForTheLock = [] {
    }; // a flock call that does not come back: a network home gone
    // While true, flock answers every 10 ms that another program holds the lock.
    std::function<bool()> lockHeldElsewhere = [] {
        return false;
    };

    std::string location() const override { return "memory"; }

    platform::HistoryAtStart read() override {
        if (outOfMemory) {
            throw std::bad_alloc();
        }
        return {stored, !stored.leftovers.empty()};
    }

    Outcome update(const Rewrite& rewrite, std::chrono::milliseconds wait) override {
        const std::lock_guard lock(mutex_);
        struct Returning {
            int& count;
            ~Returning() { ++count; }
        } returning{updatesReturned};
        ++updates;
        lockWait = wait;
        beginStep(platform::WritePhase::WaitingForLock);
        whileWaitingForTheLock();
        while (lockHeldElsewhere()) {
            beginStep(platform::WritePhase::WaitingForLock);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        beginStep(platform::WritePhase::None);
        if (!failWith.empty()) {
            return {failWith};
        }
        if (outOfMemory) {
            throw std::bad_alloc();
        }
        if (const std::optional<platform::NewHistory> replacement = rewrite(stored)) {
            beginStep(platform::WritePhase::Flushing);
            whileWriting();
            beginStep(platform::WritePhase::None);
            stored.state = platform::StoredHistory::State::Present;
            stored.bytes = replacement->bytes;
            std::erase_if(stored.leftovers, [&](const platform::Leftover& write) {
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
    int returned() const {
        return locked([this] { return updatesReturned; });
    }
    void fail(std::string reason) {
        locked([&] { failWith = std::move(reason); });
    }

    void holdBytes(std::string bytes) {
        stored.state = platform::StoredHistory::State::Present;
        stored.bytes = std::move(bytes);
    }

    template <typename Step> auto locked(Step step) const -> decltype(step()) {
        const std::lock_guard lock(mutex_);
        return step();
    }

private:
    static inline std::recursive_mutex mutex_; // one for all: tests make a store afresh
};
