#pragma once

#include "platform/HistoryLocation.h"
#include "platform/HistoryStore.h"
#include "platform/Leftovers.h"

#include <set>
#include <utility>
#include <vector>

namespace platform {

// The history file on the local disk: readable and writable by its owner only, in a folder only
// its owner may open, replaced atomically, and locked against other copies of the program while
// it is rewritten. A symbolic link at its place, or on the way to it, is followed to the real
// file, and nothing else is changed. Paths are the bytes the system gives, whatever they are.
class FileHistoryStore final : public HistoryStore {
public:
    explicit FileHistoryStore(HistoryLocation location);
    explicit FileHistoryStore(std::string path)
        : FileHistoryStore(HistoryLocation{std::move(path), {}}) {}

    std::string location() const override;
    HistoryAtStart read() override;
    Outcome update(const Rewrite& rewrite, std::chrono::milliseconds lockWait) override;

private:
    HistoryLocation location_;
    // Leftovers whose saves this run has taken in, and its own new files that could not be
    // removed: locked, so that no write takes them again, until a history holding their saves
    // is in place. Each holds a descriptor: past a few, a write is refused rather than grow it.
    static constexpr std::size_t MostHeld = 64;
    std::vector<HeldLeftover> held_;
    // Leftovers that this run's rewrite passed over (they could not be read whole): left as they
    // are, and offered once.
    std::set<FileId> passedOver_;
};

} // namespace platform
