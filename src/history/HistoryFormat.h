#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace history {

// The history file: one record per entry, oldest first, each the entry in double quotes
// followed by CR LF; nothing else. An empty history is an empty file. Only the newest entries
// whose records fit in `largest` bytes together are written, so that the file never grows past
// what the reader accepts (only hand-made entries are ever that long).
std::string formatHistory(const std::vector<std::string>& entries,
                          std::size_t largest = std::string::npos);

// Reads any bytes as a history, oldest first, keeping only the newest 101 values; it never
// fails and takes time and memory in proportion to the input.
// - Values are separated by commas and line ends (CR LF, LF or CR).
// - Blanks (spaces and tabs) before a value are skipped.
// - A value that starts with a double quote is the bytes up to the closing quote, or to the end
//   of the line when there is none; what follows up to the next separator is ignored.
// - Any other value runs to the next separator, with trailing blanks removed. A double quote
//   ends it too, as the file has no way to write a quote inside an entry.
// - An empty value is not an entry.
// So every entry read here is written back by formatHistory as a record that reads back the same.
std::vector<std::string> parseHistory(std::string_view bytes);

// The records of a file that formatHistory wrote, oldest first, as far as they are complete: a
// write cut short leaves a torn tail (half a record, or NULs where the disk had not written the
// data yet), which ends them.
std::vector<std::string> completeRecords(std::string_view bytes);

} // namespace history
