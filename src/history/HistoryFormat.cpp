#include "history/HistoryFormat.h"

#include "history/HistoryTable.h"

#include <deque>

namespace history {

namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
bool isSeparator(char c) {
    return c == ',' || isLineEnd(c);
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string formatHistory(const std::vector<std::string>& entries, std::size_t largest) {
    constexpr std::size_t Framing = 4; // the two quotes, CR and LF
    std::size_t first = entries.size();
    std::size_t size = 0;
    while (first > 0 && entries[first - 1].size() + Framing <= largest - size) {
        size += entries[--first].size() + Framing;
    }
    std::string bytes;
    bytes.reserve(size);
    for (std::size_t i = first; i < entries.size(); ++i) {
        bytes += '"';
        bytes += entries[i];
        bytes += "\"\r\n";
    }
    return bytes;
}

std::vector<std::string> parseHistory(std::string_view bytes) {
    std::deque<std::string> newest;
    std::size_t pos = 0;
    const std::size_t end = bytes.size();
    while (pos < end) {
        while (pos < end && isBlank(bytes[pos])) {
            ++pos;
        }
        std::string_view value;
        if (pos < end && bytes[pos] == '"') {
            const std::size_t start = ++pos;
            while (pos < end && bytes[pos] != '"' && !isLineEnd(bytes[pos])) {
                ++pos;
            }
            value = bytes.substr(start, pos - start);
        } else {
            const std::size_t start = pos;
            while (pos < end && !isSeparator(bytes[pos]) && bytes[pos] != '"') {
                ++pos;
            }
            value = bytes.substr(start, pos - start);
            while (!value.empty() && isBlank(value.back())) {
                value.remove_suffix(1);
            }
        }
        // Whatever stands between the value and the next separator is not part of it.
        while (pos < end && !isSeparator(bytes[pos])) {
            ++pos;
        }
        // One separator ends the value; CR LF counts as one line end.
        if (pos < end) {
            pos += bytes.compare(pos, 2, "\r\n") == 0 ? 2 : 1;
        }
        if (!value.empty()) {
            newest.emplace_back(value);
            if (newest.size() > std::size_t(HistoryTable::Capacity)) {
                newest.pop_front();
            }
        }
    }
    return {newest.begin(), newest.end()};
}

std::vector<std::string> completeRecords(std::string_view bytes) {
    std::vector<std::string> records;
    while (bytes.size() >= 4 && bytes.front() == '"') {
        const std::size_t close = bytes.find_first_of("\"\r\n", 1);
        if (close == std::string_view::npos || bytes[close] != '"' ||
            bytes.substr(close + 1, 2) != "\r\n") {
            break;
        }
        records.emplace_back(bytes.substr(1, close - 1));
        bytes.remove_prefix(close + 3);
    }
    return records;
}

} // namespace history
