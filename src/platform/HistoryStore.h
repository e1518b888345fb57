#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The history file's contents as found on disk.
struct StoredHistory {
    enum class State {
        Present,    // read whole into `bytes`
        Missing,    // no file yet: an empty history
        Unreadable, // exists but could not be read: `problem` says why
        Nowhere     // there is no place to keep it: `problem` says why
    };
    State state = State::Missing;
    std::string bytes;
    std::string problem;
    // A write was cut short (kill -9, a crash, a power cut) and left its new file beside this one,
    // with the saves it carried: read() only says so; update() gives what each holds, oldest
    // first, and removes them once the new contents are safely on disk.
    bool writeCutShort = false;
    std::vector<std::string> cutShortWrites;
};

// Where the history file is kept. The file is only ever replaced whole, atomically, so a reader
// sees either the old contents or the new, never a mixture.
class HistoryStore {
public:
    // A real history is under 2 KB: a file larger than this is not one, and is not read into
    // memory. What the program writes stays within it, so that it is read back.
    static constexpr std::size_t LargestFile = 1024 * 1024;

    virtual ~HistoryStore() = default;

    // A name for the file that a person recognises, for messages.
    virtual std::string location() const = 0;

    virtual StoredHistory read() = 0;

    struct Outcome {
        std::string problem; // empty when the new contents are safely on disk
        // The file already holds the new contents, but `problem` says the disk did not confirm
        // them (the flush after the swap failed): a later write must not add them again.
        bool replaced = false;
    };

    // Under an exclusive lock that every copy of the program takes for this, waiting for it at
    // most `lockWait`: reads the file as it is now, passes it to `rewrite`, and replaces the
    // file with what `rewrite` returns (nothing is written when it returns no value). On a
    // failure before the swap, the previous file is left whole.
    using Rewrite = std::function<std::optional<std::string>(const StoredHistory& now)>;
    virtual Outcome update(const Rewrite& rewrite, std::chrono::milliseconds lockWait) = 0;
};

} // namespace platform
