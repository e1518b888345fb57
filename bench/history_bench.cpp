// How long the history file takes at start (read and parse a full file) and at close (merge,
// write, flush to disk and rename). The files live under the current folder, so that the flush
// reaches a real disk rather than a RAM-backed /tmp.
#include "history/HistoryFile.h"
#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"
#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

std::vector<std::string> fullHistory() {
    std::vector<std::string> entries;
    for (int i = 0; i < history::HistoryTable::Capacity; ++i) {
        entries.push_back("Pw" + std::to_string(100000000 + i) + "!");
    }
    return entries;
}

struct BenchFolder {
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/history-bench-XXXXXX")};
    platform::FileHistoryStore store{dir.path() + QStringLiteral("/tavik/passwords.txt")};

    BenchFolder() {
        history::HistoryFile file(store);
        file.read();
        file.write(fullHistory());
    }
};

void loadFullHistory(benchmark::State& state) {
    BenchFolder folder;
    for (auto _ : state) {
        history::HistoryFile file(folder.store);
        history::HistoryTable table;
        table.load(file.read().entries);
        benchmark::DoNotOptimize(table.count());
    }
}
BENCHMARK(loadFullHistory)->Unit(benchmark::kMicrosecond);

void closeWithFullHistory(benchmark::State& state) {
    BenchFolder folder;
    history::HistoryFile file(folder.store);
    history::HistoryTable table;
    table.load(file.read().entries);
    for (const std::string& entry : fullHistory()) {
        table.save(entry); // 101 saves in this run: the whole table is merged and written
    }
    for (auto _ : state) {
        const std::string problem = file.write(table.savedThisRun());
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
    }
}
BENCHMARK(closeWithFullHistory)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
