// How long the history file takes at start (read and parse a full file), at each Save (the
// save written through: lock, merge, write, flush to disk and rename) and at close (the same
// rewrite with nothing pending). The files live under the current folder, so that the flush
// reaches a real disk rather than a RAM-backed /tmp.
#include "history/HistoryFile.h"
#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"
#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
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
    platform::FileHistoryStore store{
        QFile::encodeName(dir.path() + "/tavik/passwords.txt").toStdString()};

    BenchFolder() {
        history::HistoryFile file(store);
        file.read();
        for (const std::string& entry : fullHistory()) {
            file.keep(entry);
            file.write(history::HistoryFile::SaveLockWait);
        }
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

// Runs `step` on a HistoryFile loaded from a full history, once per iteration.
template <typename Step> void timeFullHistory(benchmark::State& state, Step step) {
    BenchFolder folder;
    history::HistoryFile file(folder.store);
    file.read();
    for (auto _ : state) {
        const std::string problem = step(file);
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
    }
}

void saveWithFullHistory(benchmark::State& state) {
    timeFullHistory(state, [](history::HistoryFile& file) {
        file.keep("Pw999999999!");
        return file.write(history::HistoryFile::SaveLockWait);
    });
}
BENCHMARK(saveWithFullHistory)->Unit(benchmark::kMillisecond);

void closeWithFullHistory(benchmark::State& state) {
    timeFullHistory(state, [](history::HistoryFile& file) { return file.write(); });
}
BENCHMARK(closeWithFullHistory)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
