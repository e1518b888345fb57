#pragma once

#include "history/HistoryFile.h"
#include "history/WriteAtExit.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

namespace window {

// What one write of the history came to, for the window to tell.
struct WriteReport {
    enum class Cause { Save, Retry, Close };
    Cause cause = Cause::Save;
    std::string problem;      // empty when it worked
    bool unconfirmed = false; // the file holds the saves, but the disk did not confirm them
    bool mayWrite = true;     // false when the file is never written in this run
    std::size_t written = 0;  // how many kept saves it wrote, when it worked
    std::size_t pending = 0;  // saves of this run not safely on disk after it
    std::string unsavedSummary;
};

// The history's writes, on a thread of their own, so that a slow disk or a lock held by another
// program never freezes the window. Writes run in order; saves handed over while a write is
// under way go into the next one, together. While saves are kept after a failed write, it
// tries again every two seconds or so. Each write's report reaches `report` on the window's
// thread, from its event loop. Should the program end through exit() meanwhile (the X server
// gone), the exit hook waits for the write under way, then makes its last try.
// Deliberately a plain thread with a queue rather than a QThread with queued calls: the queue
// shows plainly how saves are folded together, and every hand-over between the threads is a
// std::mutex, which ThreadSanitizer can check (Qt's own event queue it cannot see into).
class HistoryWriter {
public:
    HistoryWriter(history::HistoryFile& file, std::function<void(const WriteReport&)> report);
    ~HistoryWriter(); // lets a write under way finish; drops what was not handed to it yet
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Returns at once.
    void save(const std::string& entry);
    // The last write, as the window closes; nothing is written after it.
    void close();

private:
    void run();
    WriteReport write(const std::vector<std::string>& saves, bool closing);
    void deliverReports();

    history::HistoryFile& file_;
    const std::function<void(const WriteReport&)> report_;
    std::mutex writing_; // held while the file is written: by the thread, or by the exit hook
    history::WriteAtExit writeAtExit_{file_, writing_};

    std::mutex queue_; // guards what follows, up to the thread
    std::condition_variable wake_;
    std::vector<std::string> saves_; // handed over, not written yet
    bool closing_ = false;
    bool stopping_ = false;
    std::deque<WriteReport> reports_; // for the window's thread

    int windowWakeUp_; // an eventfd that the window's event loop watches
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread thread_; // last, so that it starts once all the above is in place
};

} // namespace window
