#include "history/HistoryFile.h"
#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdarg>
#include <cstring>
#include <future>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using platform::FileHistoryStore;
using State = platform::StoredHistory::State;
using namespace std::chrono_literals;

// Fault injection: this binary's own versions of the calls a write makes. Each forwards to the
// C library's, except that once `fault.skip` calls of the one named `fault.call` have passed,
// every further call fails with `fault.error` (a short write first writes half its bytes),
// until `fault` is reset.
namespace {
struct Fault {
    std::string call;
    int error = 0;
    int skip = 0;
    bool shortWrite = false;
} fault;

bool failing(const char* call) {
    return fault.call == call && fault.skip-- <= 0 && (errno = fault.error, true);
}
} // namespace

template <typename Function> Function* real(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}
#define INJECTABLE(call, parameters, arguments)                                                    \
    extern "C" int call parameters {                                                               \
        return failing(#call) ? -1 : real<int parameters>(#call) arguments;                        \
    }
INJECTABLE(flock, (int fd, int operation), (fd, operation))
INJECTABLE(mkostemp, (char* name, int flags), (name, flags))
INJECTABLE(fchmod, (int fd, mode_t mode), (fd, mode))
INJECTABLE(fsync, (int fd), (fd))
INJECTABLE(rename, (const char* from, const char* to), (from, to))

// Only the lock file is created with open(); the history is only ever read with it.
extern "C" int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return (flags & O_CREAT) && failing("open")
               ? -1
               : real<int(const char*, int, ...)>("open")(path, flags, mode);
}

// Only writes to files fail, never the test's own output.
extern "C" ssize_t write(int fd, const void* bytes, size_t size) {
    if (fd > STDERR_FILENO && failing("write")) {
        if (!fault.shortWrite) {
            return -1;
        }
        fault.shortWrite = false;
        size /= 2;
    }
    return real<ssize_t(int, const void*, size_t)>("write")(fd, bytes, size);
}

namespace {

mode_t modeOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return 0;
    }
    return status.st_mode & 07777;
}

std::optional<std::string> replaceWith(const std::string& bytes) {
    return bytes;
}

std::string writeBytes(FileHistoryStore& store, const std::string& bytes,
                       std::chrono::milliseconds lockWait = 1s) {
    return store
        .update([&](const platform::StoredHistory&) { return replaceWith(bytes); }, lockWait)
        .problem;
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class FileHistoryStoreTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString folder() const { return dir_.path() + QStringLiteral("/share/tavik"); }
    QString path() const { return folder() + QStringLiteral("/passwords.txt"); }

private slots:
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup() { QDir(dir_.path() + QStringLiteral("/share")).removeRecursively(); }

    void theDefaultLocationFollowsTheXdgRules() {
        const auto defaultPath = [] {
            return FileHistoryStore::defaultLocation().path;
        };
        qputenv("XDG_DATA_HOME", "/some/where");
        QCOMPARE(defaultPath(), QStringLiteral("/some/where/tavik/passwords.txt"));
        // A relative value is ignored, as is an empty one.
        qputenv("HOME", "/home/someone");
        for (const char* ignored : {"some/where", ""}) {
            qputenv("XDG_DATA_HOME", ignored);
            QCOMPARE(defaultPath(),
                     QStringLiteral("/home/someone/.local/share/tavik/passwords.txt"));
        }
        // Without HOME, the home folder the user database gives.
        qunsetenv("HOME");
        const QString home = QFile::decodeName(::getpwuid(::getuid())->pw_dir);
        QCOMPARE(defaultPath(),
                 QDir::cleanPath(home + QStringLiteral("/.local/share/tavik/passwords.txt")));
        // A name that is not UTF-8 (here Latin-1) is no location: nothing is read or written.
        for (const char* variable : {"XDG_DATA_HOME", "HOME"}) {
            qputenv(variable, dir_.path().toUtf8() + "/caf\xe9");
            FileHistoryStore store(FileHistoryStore::defaultLocation());
            QCOMPARE(store.read().state, State::Unreadable);
            const std::string problem = writeBytes(store, "\"x\"\r\n");
            QVERIFY2(problem.find(variable + std::string(", is not valid UTF-8")) !=
                         std::string::npos,
                     problem.c_str());
            QVERIFY(QDir(dir_.path()).isEmpty());
            qunsetenv("XDG_DATA_HOME");
        }
    }

    void aMissingFileReadsAsMissing() {
        FileHistoryStore store(path());
        QCOMPARE(store.read().state, State::Missing);
    }

    void writingCreatesAPrivateFolderAndAPrivateFile() {
        const mode_t oldUmask = ::umask(0);
        FileHistoryStore store(path());
        const std::string problem = writeBytes(store, "\"a\"\r\n");
        ::umask(oldUmask);
        QCOMPARE(problem, std::string());
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(modeOf(path()), mode_t(0600));
        const platform::StoredHistory stored = store.read();
        QCOMPARE(stored.state, State::Present);
        QCOMPARE(stored.bytes, std::string("\"a\"\r\n"));
    }

    void anExistingFileAndFolderOpenToOthersAreMadePrivate() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0777) == 0);
        QCOMPARE(writeBytes(store, "\"b\"\r\n"), std::string());
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(contentsOf(path()), QByteArray("\"b\"\r\n"));
    }

    void whatIsNotARegularFileIsUnreadableAndReadAtOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("FIFO") << "fifo"
                              << "it is not a regular file";
        QTest::newRow("link to /dev/zero") << "zero"
                                           << "it is not a regular file";
        // Cannot even be opened, whatever the permissions: shows it also when run as root.
        QTest::newRow("socket") << "socket"
                                << "No such device or address";
    }

    void whatIsNotARegularFileIsUnreadableAndReadAtOnce() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray name = QFile::encodeName(path());
        int socketFd = -1;
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path()));
        } else if (kind == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        } else if (kind == QLatin1String("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path()));
        } else {
            socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(std::size_t(name.size()) < sizeof address.sun_path);
            std::strcpy(address.sun_path, name.constData());
            QVERIFY(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        }
        FileHistoryStore store(path());
        const platform::StoredHistory stored = store.read();
        if (socketFd >= 0) {
            ::close(socketFd);
        }
        QCOMPARE(stored.state, State::Unreadable);
        QCOMPARE(QString::fromStdString(stored.problem), reason);
        QVERIFY(stored.bytes.empty());
    }

    void aHugeFileIsNotReadIntoMemory() {
        QVERIFY(QDir().mkpath(folder()));
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(1024 * 1024 + 1)); // sparse: costs no disk
        file.close();
        FileHistoryStore store(path());
        QCOMPARE(store.read().state, State::Unreadable);
    }

    void aFileSizeLimitFailsTheWriteAndLeavesThePreviousFileWhole() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"old\"\r\n"), std::string());

        // A real file size limit, as `ulimit -f` sets: the store must have SIGXFSZ ignored, or
        // it kills this test. The lock file stays empty, so it is the data write that fails: a
        // short file must not replace the old one.
        struct rlimit oldLimit {};
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        struct rlimit tiny = oldLimit;
        tiny.rlim_cur = 4;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        const std::string problem = writeBytes(store, "\"new and longer\"\r\n");
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);

        QCOMPARE(problem, std::string("File too large"));
        QCOMPARE(contentsOf(path()), QByteArray("\"old\"\r\n"));
        // No temporary file is left behind.
        QCOMPARE(
            QDir(folder()).entryList(QDir::Files),
            (QStringList{QStringLiteral("passwords.txt"), QStringLiteral("passwords.txt.lock")}));
    }

    // Each step of a write, failing: the reason is told, the old file stays (unless the file
    // was already swapped in when the failure came), the save stays pending, and once the fault
    // clears it is written exactly once.
    void everyFailingStepIsAFailedWrite_data() {
        QTest::addColumn<Fault>("injected");
        QTest::addColumn<bool>("swapped"); // the failure comes after the new file took its place
        QTest::newRow("creating the lock") << Fault{"open", EROFS} << false;
        QTest::newRow("locking") << Fault{"flock", ENOLCK} << false;
        QTest::newRow("creating the new file") << Fault{"mkostemp", EDQUOT} << false;
        QTest::newRow("its mode") << Fault{"fchmod", EPERM} << false;
        QTest::newRow("write EIO") << Fault{"write", EIO} << false;
        QTest::newRow("write ENOSPC") << Fault{"write", ENOSPC} << false;
        QTest::newRow("write EDQUOT") << Fault{"write", EDQUOT} << false;
        QTest::newRow("write EFBIG") << Fault{"write", EFBIG} << false;
        QTest::newRow("short write") << Fault{"write", ENOSPC, 0, true} << false;
        QTest::newRow("its fsync") << Fault{"fsync", EIO} << false;
        QTest::newRow("the rename") << Fault{"rename", EIO} << false;
        QTest::newRow("the folder's fsync") << Fault{"fsync", EIO, 1} << true;
    }

    void everyFailingStepIsAFailedWrite() {
        QFETCH(Fault, injected);
        QFETCH(bool, swapped);
        FileHistoryStore store(path());
        history::HistoryFile file(store);
        file.read();
        QCOMPARE(file.save("old"), std::string());
        const QByteArray old = contentsOf(path());
        const QByteArray both("\"old\"\r\n\"new\"\r\n");

        fault = injected;
        const std::string problem = file.save("new");
        fault = Fault{};
        QVERIFY2(problem.find(std::strerror(injected.error)) != std::string::npos, problem.c_str());
        QCOMPARE(contentsOf(path()), swapped ? both : old);
        QCOMPARE(file.pending(), std::size_t(1));
        QCOMPARE(file.unsavedSummary().find("lost: 1") != std::string::npos, !swapped);
        QCOMPARE(
            QDir(folder()).entryList(QDir::Files),
            (QStringList{QStringLiteral("passwords.txt"), QStringLiteral("passwords.txt.lock")}));

        QCOMPARE(file.write(), std::string());
        QCOMPARE(contentsOf(path()), both);
        QCOMPARE(file.pending(), std::size_t(0));
    }

    // Two writers, the second through a link to the file: while the first rewrites the file
    // under its lock, the second must wait, and then build on the first one's result.
    void aSecondWriterWaitsForTheFirstAndSeesItsResult() {
        FileHistoryStore first(path());
        QCOMPARE(writeBytes(first, "\"old\"\r\n"), std::string());
        QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/linked")));
        QVERIFY(QFile::link(path(), dir_.path() + QStringLiteral("/linked/passwords.txt")));
        FileHistoryStore second(dir_.path() + QStringLiteral("/linked/passwords.txt"));
        const auto append = [](const char* entry, std::function<void()> whileLocked) {
            return [=](const platform::StoredHistory& now) {
                whileLocked();
                return std::optional(now.bytes + entry);
            };
        };
        std::promise<void> locked;
        const auto holdTheLock = [&] {
            locked.set_value();
            std::this_thread::sleep_for(100ms);
        };
        std::thread firstWriter([&] { first.update(append("\"one\"\r\n", holdTheLock), 1s); });
        locked.get_future().wait();
        QCOMPARE(second.update(append("\"two\"\r\n", [] {}), 1s).problem, std::string());
        firstWriter.join();
        QCOMPARE(contentsOf(path()), QByteArray("\"old\"\r\n\"one\"\r\n\"two\"\r\n"));
    }

    void theRewriteSeesTheFileAsItIsNowAndMayDecline() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        std::string seen;
        const auto decline = [&](const platform::StoredHistory& now) {
            seen = now.bytes;
            return std::optional<std::string>();
        };
        const std::string problem = store.update(decline, 1s).problem;
        QCOMPARE(problem, std::string());
        QCOMPARE(seen, std::string("\"a\"\r\n"));
        QCOMPARE(contentsOf(path()), QByteArray("\"a\"\r\n"));
    }

    void aLockHeldElsewhereIsWaitedForThenReported() {
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray lockName = QFile::encodeName(path() + QStringLiteral(".lock"));
        const int otherCopy = ::open(lockName.constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(::flock(otherCopy, LOCK_EX) == 0);
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"x\"\r\n", 200ms),
                 std::string("the history is locked by another program"));
        QVERIFY(!QFile::exists(path()));
        ::close(otherCopy);
        QCOMPARE(writeBytes(store, "\"x\"\r\n"), std::string());
    }

    void aLockFileThatCannotBeMadeSaysWhy() {
        QVERIFY(QDir().mkpath(path() + QStringLiteral(".lock")));
        FileHistoryStore store(path());
        const std::string problem = writeBytes(store, "\"x\"\r\n");
        QVERIFY2(problem.find("Is a directory") != std::string::npos, problem.c_str());
    }
};

QTEST_GUILESS_MAIN(FileHistoryStoreTest)
#include "tst_file_history_store.moc"
