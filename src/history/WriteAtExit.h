#pragma once

#include <chrono>

namespace history {

class HistoryWriter;

// The last write for saves still held when the program ends through exit() without closing its
// window, as Qt ends it when the X server goes away: the hook, registered once, has the writer
// finish, waiting a few seconds at most for a disk that does not answer, and says on standard
// error how many saves it wrote, or what became of them. It touches nothing but the writer. The
// newest instance watches its `writer` while it lives; once it goes, the hook does nothing.
class WriteAtExit {
public:
    static constexpr std::chrono::seconds LongestWait{5};

    explicit WriteAtExit(HistoryWriter& writer);
    ~WriteAtExit();
    WriteAtExit(const WriteAtExit&) = delete;
    WriteAtExit& operator=(const WriteAtExit&) = delete;

private:
    HistoryWriter& writer_;
};

} // namespace history
