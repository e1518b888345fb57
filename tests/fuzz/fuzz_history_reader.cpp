// libFuzzer target for the history file reader: any bytes must read without a crash, a leak or
// an overflow, give at most 101 non-empty entries, and write back as records that read the same.
#include "history/HistoryFormat.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = history::parseHistory(bytes);
    if (entries.size() > 101) {
        std::abort();
    }
    for (const std::string& entry : entries) {
        if (entry.empty()) {
            std::abort();
        }
    }
    if (history::parseHistory(history::formatHistory(entries)) != entries) {
        std::abort();
    }
    return 0;
}
