#include "history/HistoryFile.h"
#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"
#include "history/HistoryWriter.h"
#include "history/WriteAtExit.h"
#include "support/MemoryHistoryStore.h"
#include "support/SaveNow.h"
#include "support/SkippedClock.h"

#include <QTest>

#include <future>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using history::HistoryFile;
using history::HistoryTable;
using Entries = std::vector<std::string>;
using State = platform::StoredHistory::State;

namespace {

Entries numbered(const std::string& prefix, int count) {
    Entries entries;
    for (int i = 1; i <= count; ++i) {
        entries.push_back(prefix + std::to_string(i));
    }
    return entries;
}

// One run of the program against `store`: load, save `saves`, close. Returns the close's result.
std::string run(MemoryHistoryStore& store, const Entries& saves) {
    HistoryFile file(store);
    file.read();
    for (const std::string& password : saves) {
        saveNow(file, password);
    }
    return file.write();
}

} // namespace

class HistoryFileTest : public QObject {
    Q_OBJECT
private slots:
    void aFirstRunCreatesTheFile() {
        MemoryHistoryStore store;
        HistoryFile file(store);
        const HistoryFile::Loaded loaded = file.read();
        QVERIFY(loaded.entries.empty());
        QVERIFY(loaded.problem.empty());
        QCOMPARE(saveNow(file, "abc1234"), std::string());
        QCOMPARE(store.bytes(), std::string("\"abc1234\"\r\n"));
    }

    // A store that always finds more writes cut short does not hold a write forever.
    void aWriteEndsThoughWritesCutShortNeverRunOut() {
        MemoryHistoryStore store;
        store.stored.moreLeftovers = true;
        HistoryFile file(store);
        QCOMPARE(saveNow(file, "a"), std::string());
        QCOMPARE(store.tries(), 1000);
    }

    void closingWithoutSavingLeavesTheFileByteIdentical() {
        MemoryHistoryStore store;
        const std::string original = history::formatHistory({"a!#$%&@*", "B^0", "caf\xc3\xa9"});
        store.holdBytes(original);
        QCOMPARE(run(store, {}), std::string());
        QCOMPARE(store.bytes(), original);

        store.holdBytes("");
        QCOMPARE(run(store, {}), std::string());
        QCOMPARE(store.bytes(), std::string());

        // A file written by hand is left in the program's own format.
        store.holdBytes("abc\n");
        QCOMPARE(run(store, {}), std::string());
        QCOMPARE(store.bytes(), std::string("\"abc\"\r\n"));
    }

    void aFullFileLoadsWholeAndTheNextSaveDropsTheOldest() {
        MemoryHistoryStore store;
        const Entries full = numbered("p", 101);
        store.holdBytes(history::formatHistory(full));
        HistoryFile file(store);
        QCOMPARE(file.read().entries, full);

        QCOMPARE(run(store, {"new"}), std::string());
        Entries expected(full.begin() + 1, full.end());
        expected.push_back("new");
        QCOMPARE(history::parseHistory(store.bytes()), expected);
    }

    void twoCopiesOpenAtOnceKeepBothCopiesSaves() {
        MemoryHistoryStore store;
        store.holdBytes(history::formatHistory({"old"}));
        HistoryFile first(store);
        HistoryFile second(store);
        first.read();
        second.read();

        saveNow(first, "one");
        saveNow(second, "two");
        saveNow(second, "three");
        QCOMPARE(second.write(), std::string());
        QCOMPARE(first.write(), std::string());
        QCOMPARE(history::parseHistory(store.bytes()), (Entries{"old", "one", "two", "three"}));
    }

    void theMergeKeepsTheNewest101() {
        MemoryHistoryStore store;
        store.holdBytes(history::formatHistory(numbered("disk", 101)));
        QCOMPARE(run(store, numbered("run", 30)), std::string());
        const Entries written = history::parseHistory(store.bytes());
        QCOMPARE(written.size(), std::size_t(101));
        QCOMPARE(written.front(), std::string("disk31"));
        QCOMPARE(written.back(), std::string("run30"));
    }

    void anUnreadableFileIsNeverReplaced() {
        MemoryHistoryStore store;
        store.stored.state = State::Unreadable;
        store.stored.problem = "Permission denied";
        HistoryFile file(store);
        const HistoryFile::Loaded loaded = file.read();
        QVERIFY(loaded.entries.empty());
        QVERIFY(loaded.problem.find("Permission denied") != std::string::npos);

        // Even once it could be read again, this run does not overwrite what it never saw.
        store.holdBytes("\"kept\"\r\n");
        QVERIFY(!saveNow(file, "new").empty());
        QVERIFY(!file.write().empty());
        QCOMPARE(store.updates, 0);
        QCOMPARE(store.bytes(), std::string("\"kept\"\r\n"));
    }

    void aFileThatBecameUnreadableIsNotReplacedButGetsTheSavesOnceReadable() {
        MemoryHistoryStore store;
        HistoryFile file(store);
        file.read();
        store.stored.state = State::Unreadable;
        store.stored.problem = "Input/output error";
        const std::string problem = saveNow(file, "new");
        QVERIFY(problem.find("Input/output error") != std::string::npos);
        QCOMPARE(store.stored.state, State::Unreadable);

        store.holdBytes("\"other\"\r\n");
        QCOMPARE(saveNow(file, "newer"), std::string());
        QCOMPARE(history::parseHistory(store.bytes()), (Entries{"other", "new", "newer"}));
    }

    void runningOutOfMemoryIsAToldFailure() {
        MemoryHistoryStore store;
        HistoryFile file(store);
        file.read();
        store.outOfMemory = true;
        QVERIFY(HistoryFile(store).read().problem.find("memory") != std::string::npos);
        QVERIFY(saveNow(file, "a").find("memory") != std::string::npos);
        store.outOfMemory = false;
        QCOMPARE(file.write(), std::string());
        QCOMPARE(store.bytes(), std::string("\"a\"\r\n"));
    }

    void aSaveIsWrittenAtOnceAndAFailedOneIsRetriedUntilWritten() {
        MemoryHistoryStore store;
        HistoryFile file(store);
        file.read();
        QCOMPARE(saveNow(file, "a"), std::string());
        QCOMPARE(store.bytes(), std::string("\"a\"\r\n"));
        QVERIFY(store.lockWait <= HistoryFile::SaveLockWait); // a Save never waits long

        store.failWith = "No space left on device";
        QCOMPARE(saveNow(file, "b"), std::string("No space left on device"));
        QCOMPARE(file.ledger().counts().total(), std::size_t(1));
        QCOMPARE(file.write(), std::string("No space left on device"));
        QCOMPARE(store.bytes(), std::string("\"a\"\r\n"));

        // The next save writes both; the close then repeats neither.
        store.failWith.clear();
        QCOMPARE(saveNow(file, "c"), std::string());
        QCOMPARE(file.ledger().counts().total(), std::size_t(0));
        QCOMPARE(file.write(), std::string());
        QCOMPARE(store.lockWait, HistoryFile::CloseLockWait); // the close waits longer
        QCOMPARE(history::parseHistory(store.bytes()), (Entries{"a", "b", "c"}));
        // More saves kept than a history holds: the oldest goes, the newest 101 are written.
        store.failWith = "No space left on device";
        const Entries kept = numbered("k", 102);
        for (const std::string& password : kept) {
            saveNow(file, password);
        }
        store.failWith.clear();
        QCOMPARE(file.ledger().counts().total(), std::size_t(101));
        QCOMPARE(file.write(), std::string());
        QCOMPARE(history::parseHistory(store.bytes()), Entries(kept.begin() + 1, kept.end()));
    }

    // The one way out: an idle writer ends at once, with nothing more written once a write has
    // worked; and a close that lost a save is told, whether or not its report was taken.
    void finishEndsAnIdleWriterAtOnceAndTellsWhatTheCloseLost() {
        MemoryHistoryStore store;
        HistoryFile file(store);
        file.read();
        history::HistoryWriter idle(file, [] {});
        idle.save("a");
        while (!idle.nextReport()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // past a retry's 2 s
        const auto started = std::chrono::steady_clock::now();
        QCOMPARE(idle.finish(std::chrono::seconds(10)).account, std::string());
        QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(1));
        QCOMPARE(store.tries(), 1);

        history::HistoryWriter closing(file, [] {});
        store.fail("No space left on device");
        closing.save("b");
        closing.close();
        while (!closing.state().done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const history::HistoryWriter::Ending ending = closing.finish(std::chrono::milliseconds(0));
        QVERIFY(!ending.safe);
        QCOMPARE(ending.account,
                 std::string("the last write to memory failed: No space left on device. 1 saved "
                             "password(s) were only in memory: they are lost."));
    }

    // A program that ends through exit(), as when the X server goes, still says where its saves
    // stand (in a child process, which it ends): the exit hook writes the save kept in memory.
    void aProgramEndingOnItsOwnTellsWhereItsSavesStand() {
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer holds a signal back in a forked child");
#endif
        int pipeEnds[2];
        QVERIFY(::pipe(pipeEnds) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeEnds[1], STDERR_FILENO);
            ::alarm(15); // should nothing else end it
            MemoryHistoryStore store;
            HistoryFile file(store);
            // Ends the child once the exit hook (registered after it) has run: before the leak
            // check of a sanitized build, which takes what the parent's threads held for leaks.
            std::atexit([] { ::_exit(0); });
            store.fail("No space left on device");
            history::HistoryWriter writer(file, [] {});
            history::WriteAtExit atExit(writer);
            writer.save("a");
            while (!writer.nextReport()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            store.fail({});
            std::exit(0);
        }
        ::close(pipeEnds[1]);
        char said[512] = {};
        for (std::size_t got = 0, n = 1; n > 0 && got < sizeof said - 1; got += n) {
            n = std::size_t(
                std::max<ssize_t>(0, ::read(pipeEnds[0], said + got, sizeof said - 1 - got)));
        }
        ::close(pipeEnds[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        QCOMPARE(std::string(said), std::string("tavik: at exit, 1 saved password(s) kept in "
                                                "memory were written to memory.\n"));
    }

    // Saves handed over while a write waits on the disk go into the next write, together and in
    // order; every way out (here: the exit hook's finish) waits for the write under way, then
    // writes whatever is still queued, or, past its bound, says what it could not.
    void theWriterFoldsSavesInOrderAndFinishesWithinItsBound_data() {
        QTest::addColumn<int>("opensAfter"); // ms into finish(); -1: never
        QTest::addColumn<QString>("gate");   // where the first write waits
        QTest::newRow("the disk answers") << 100 << "flush";
        QTest::newRow("the disk never answers") << -1 << "flush";
        QTest::newRow("another copy's lock, past the bound") << 800 << "lock held elsewhere";
        QTest::newRow("a flock that never returns") << -1 << "flock";
    }
    void theWriterFoldsSavesInOrderAndFinishesWithinItsBound() {
        QFETCH(int, opensAfter);
        QFETCH(QString, gate);
        const bool diskAnswers = opensAfter >= 0;
        MemoryHistoryStore store;
        std::promise<void> reached, opening; // the first write waits at a gate: a disk that
        std::shared_future<void> open = opening.get_future().share(); // does not answer
        const auto wait = [&, first = true]() mutable {
            if (std::exchange(first, false)) {
                reached.set_value();
                open.wait();
            }
        };
        (gate == "flush" ? store.whileWriting : store.whileWaitingForTheLock) = wait;
        if (gate == "lock held elsewhere") {
            store.whileWaitingForTheLock = [] {
            };
            store.lockHeldElsewhere = [&, first = true]() mutable {
                std::exchange(first, false) ? reached.set_value() : void();
                return open.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
            };
        }
        HistoryFile file(store);
        file.read();
        history::HistoryWriter writer(file, [] {});
        writer.save("a");
        reached.get_future().wait();
        writer.save("b");
        writer.save("c");
        std::thread opener([&] { // once finish() has begun
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(opensAfter, 0)));
            diskAnswers ? opening.set_value() : void();
        });
        const auto started = std::chrono::steady_clock::now();
        const history::HistoryWriter::Ending ending = writer.finish(std::chrono::milliseconds(500));
        const auto waited = std::chrono::steady_clock::now() - started;
        opener.join();
        diskAnswers ? void() : opening.set_value();
        // Not waiting for a disk that never answers; with room for a loaded machine.
        QVERIFY(waited < std::chrono::seconds(5) &&
                (diskAnswers || waited >= std::chrono::milliseconds(500)));
        QCOMPARE(ending.safe, diskAnswers);
        if (!diskAnswers) {
            QCOMPARE(ending.account,
                     (gate == "flock" ? std::string("1 saved password(s) were only in memory: "
                                                    "they are lost.")
                                      : std::string("the disk has not confirmed the write of 1 "
                                                    "saved password(s) to memory: what it wrote "
                                                    "is beside the file, and the next start "
                                                    "finishes it.")) +
                         " 2 saved password(s) saved after it were not written: they are lost.");
            return;
        }
        // Every save written since it began is told: a, under way, then b and c.
        QCOMPARE(ending.account,
                 std::string("3 saved password(s) kept in memory were written to memory."));
        QCOMPARE(history::parseHistory(store.bytes()), (Entries{"a", "b", "c"}));
        QCOMPARE(store.tries(), 2); // b and c together
    }
};

QTEST_APPLESS_MAIN(HistoryFileTest)
#include "tst_history_file.moc"
