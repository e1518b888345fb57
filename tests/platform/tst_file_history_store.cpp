#include "history/HistoryFile.h"
#include "history/HistoryFormat.h"
#include "history/HistoryWriter.h"
#include "platform/FileHistoryStore.h"
#include "platform/ProcessSetup.h"
#include "support/SaveNow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdarg>
#include <cstring>
#include <filesystem>
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
#include <sys/wait.h>
#include <unistd.h>

using platform::FileHistoryStore;
using State = platform::StoredHistory::State;
using namespace std::chrono_literals;

// Fault injection: this binary's own versions of the calls a write makes. Each forwards to the
// C library's, except that once `fault.skip` calls of the one named `fault.call` have passed,
// every further call fails with `fault.error` (a short write first writes half its bytes, an
// interrupted one none), until `fault` is reset.
namespace {
struct Fault {
    std::string call;
    int error = 0;
    int skip = 0;
    bool shortWrite = false;
    bool once = false; // fails one call only
} fault;

bool failing(const char* call) {
    const bool fails = fault.call == call && fault.skip-- <= 0 && (errno = fault.error, true);
    if (fails && (fault.error == EINTR || fault.once)) {
        fault.call.clear(); // a signal interrupts one call
    }
    return fails;
}
// What happens elsewhere while a call is under way, once: another copy's write, say, or a disk
// that does not answer until told.
struct During {
    std::string call;
    int skip = 0;
    std::function<void()> happen;
} during;
void whileIn(const char* call) {
    if (during.call == call && during.skip-- <= 0) {
        during.call.clear();
        std::exchange(during.happen, nullptr)();
    }
}
} // namespace

template <typename Function> Function* real(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}
#define INJECTABLE(call, parameters, arguments)                                                    \
    extern "C" int call parameters {                                                               \
        whileIn(#call);                                                                            \
        return failing(#call) ? -1 : real<int parameters>(#call) arguments;                        \
    }
extern "C" int mkostemp(char* name, int flags) {
    whileIn("mkostemp");
    return failing("mkostemp") ? -1 : real<int(char*, int)>("mkostemp")(name, flags);
}
INJECTABLE(fchmod, (int fd, mode_t mode), (fd, mode))

// As on NFS, where an exclusive flock needs a descriptor open for writing, always.
extern "C" int flock(int fd, int operation) {
    whileIn("flock");
    if ((operation & LOCK_EX) && (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    return failing("flock") ? -1 : real<int(int, int)>("flock")(fd, operation);
}

// A disk gone read-only under a write: its new file cannot be removed.
int unlinkFails = 0;
extern "C" int unlink(const char* path) {
    whileIn("unlink");
    return unlinkFails ? (errno = unlinkFails, -1) : real<int(const char*)>("unlink")(path);
}

extern "C" int fsync(int fd) {
    whileIn("fsync");
    return failing("fsync") ? -1 : real<int(int)>("fsync")(fd);
}
INJECTABLE(rename, (const char* from, const char* to), (from, to))

// A failing mkdirat lost a race: another copy made the folder a moment before.
extern "C" int mkdirat(int folder, const char* path, mode_t mode) {
    whileIn("mkdirat");
    const bool racing = failing("mkdirat");
    const int made = real<int(int, const char*, mode_t)>("mkdirat")(folder, path, mode);
    return racing && made == 0 ? (errno = EEXIST, -1) : made;
}

// What is at the lock's place is looked at, then opened; another copy may act between.
void whileAtTheLock(const char* call, const char* path) {
    if (std::string_view(path).ends_with(".lock")) {
        whileIn(call);
    }
}
extern "C" int fstatat(int folder, const char* path, struct stat* status, int flags) {
    whileAtTheLock("fstatat", path);
    return real<int(int, const char*, struct stat*, int)>("fstatat")(folder, path, status, flags);
}

// Only the lock file is created with openat(); other files are only ever read with it.
extern "C" int openat(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    whileAtTheLock(flags & O_CREAT ? "create" : "openat", path);
    const bool fails = (flags & O_CREAT) ? failing("openat")
                       : std::string_view(path).ends_with(".lock")
                           ? failing("opening the lock")
                           : std::string_view(path).find(".tavik-") != std::string_view::npos &&
                                 failing("opening a leftover");
    return fails ? -1 : real<int(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
}

extern "C" ssize_t read(int fd, void* bytes, size_t size) {
    if (fd > STDERR_FILENO) {
        whileIn("read");
    }
    return real<ssize_t(int, void*, size_t)>("read")(fd, bytes, size);
}

// Only writes to files fail, never the test's own output.
extern "C" ssize_t write(int fd, const void* bytes, size_t size) {
    if (fd > STDERR_FILENO) {
        whileIn("write");
    }
    if (fd > STDERR_FILENO && failing("write")) {
        if (!fault.shortWrite) {
            return -1;
        }
        fault.shortWrite = false;
        size = fault.error == EINTR ? 0 : size / 2; // nothing written, and errno as it was left
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
        .update([&](const platform::LockedHistory&) { return replaceWith(bytes); }, lockWait)
        .problem;
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

// Where the saves of `file` that are not safely on disk stand, should the program end now.
std::string standing(const history::HistoryFile& file) {
    return history::whereSavesStand(file.ledger().counts(), "F", platform::WritePhase::None, true);
}

class FileHistoryStoreTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString folder() const { return dir_.path() + QStringLiteral("/share/tavik"); }
    QString path() const { return folder() + QStringLiteral("/passwords.txt"); }

private slots:
    void initTestCase() { platform::setUpProcess(); }
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup() {
        std::filesystem::remove_all((dir_.path() + QStringLiteral("/share")).toStdString());
    }

    void theDefaultLocationFollowsTheXdgRules() {
        const auto defaultPath = [] {
            return QString::fromStdString(platform::defaultHistoryLocation().path);
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
        // A name that is not UTF-8 (here Latin-1) is kept byte for byte.
        qputenv("XDG_DATA_HOME", "/caf\xe9");
        QCOMPARE(platform::defaultHistoryLocation().path,
                 std::string("/caf\xe9/tavik/passwords.txt"));
    }

    void aMissingFileReadsAsMissing() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(store.read().state, State::Missing);
    }

    void writingCreatesAPrivateFolderAndAPrivateFile() {
        const mode_t oldUmask = ::umask(0);
        FileHistoryStore store(path().toStdString());
        fault = Fault{"mkdirat", EEXIST}; // each folder made by another copy at the same moment
        const std::string problem = writeBytes(store, "\"a\"\r\n");
        fault = Fault{};
        ::umask(oldUmask);
        QCOMPARE(problem, std::string());
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(modeOf(path()), mode_t(0600));
        const platform::StoredHistory stored = store.read();
        QCOMPARE(stored.state, State::Present);
        QCOMPARE(stored.bytes, std::string("\"a\"\r\n"));
    }

    void anExistingFileAndFolderOpenToOthersAreMadePrivate() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0777) == 0);
        // A copy of the passwords left by a killed write goes; a person's file of another form,
        // or one of our form that is also another file (a hard link), stays.
        for (const char* name : {".tavik-unfinished-0-Ab12Cd", ".tmp-Ab12Cd",
                                 ".tavik-unfinished-mine", ".tavik-unfinished-0a-Ab12Cd"}) {
            QVERIFY(QFile(path() + QLatin1String(name)).open(QIODevice::WriteOnly));
        }
        QVERIFY(::link(QFile::encodeName(path() + ".tmp-Ab12Cd").constData(),
                       QFile::encodeName(path() + ".tavik-unfinished-0-Ln12Kd").constData()) == 0);
        history::HistoryFile file(store);
        QCOMPARE(saveNow(file, "b"), std::string());
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(contentsOf(path()), QByteArray("\"a\"\r\n\"b\"\r\n"));
        QCOMPARE(QDir(folder()).entryList({QStringLiteral("*.t*-*")}),
                 (QStringList{"passwords.txt.tavik-unfinished-0-Ln12Kd",
                              "passwords.txt.tavik-unfinished-0a-Ab12Cd",
                              "passwords.txt.tavik-unfinished-mine", "passwords.txt.tmp-Ab12Cd"}));
    }

    // A write cut short left its new file, whose name says how many of its last records are the
    // saves it carried: the next write gives back exactly those, and the file goes. One that
    // cannot be read whole is left and told, once; another user's is neither read nor removed.
    void aWriteCutShortGivesBackExactlyWhatItCarried_data() {
        QTest::addColumn<QByteArray>("history"); // "none": there is no history file
        QTest::addColumn<QByteArray>("cutShort");
        QTest::addColumn<int>("carried");
        QTest::addColumn<uint>("owner");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("told"); // empty when the file goes
        const QByteArray ab("\"a\"\r\n\"b\"\r\n"), abc = ab + "\"c\"\r\n";
        const uint me = ::geteuid();
        QTest::newRow("newer records") << ab << abc + "\"d\"\r\n"
                                       << 2 << me << abc + "\"d\"\r\n"
                                       << QString();
        QTest::newRow("saved twice") << abc << abc + "\"c\"\r\n"
                                     << 1 << me << abc + "\"c\"\r\n"
                                     << QString();
        QTest::newRow("none of its records in the history")
            << QByteArray("\"x\"\r\n") << abc << 1 << me << QByteArray("\"x\"\r\n\"c\"\r\n")
            << QString();
        QTest::newRow("a deleted history")
            << QByteArray("none") << abc << 1 << me << QByteArray("\"c\"\r\n") << QString();
        QTest::newRow("a first write's, all its own")
            << QByteArray("none") << ab << 2 << me << ab << QString();
        const QString cannot = path() + ".tavik-unfinished-1-Ab12Cd, left by a write cut short, "
                                        "holds 1 saved password(s) that could not be given back: ";
        const QString torn = "it is torn, or not in the history's format: copy what you need "
                             "into the history, then remove it.";
        QTest::newRow("a torn tail")
            << ab << abc + QByteArray("\"d\0\0", 4) << 1 << me << ab << cannot + torn;
        QTest::newRow("not in the format")
            << ab << QByteArray("\"a\"\r\"b\"\r\"c\"\r") << 1 << me << ab << cannot + torn;
        QTest::newRow("fewer records than it carried")
            << ab << ab << 3 << me << ab
            << QString(cannot).replace("-1-", "-3-").replace("holds 1", "holds 3") + torn;
        QTest::newRow("unreadable to its owner")
            << ab << abc << 1 << me << ab
            << cannot + "it cannot be opened (Permission denied): make it readable and writable "
                        "to you, or remove it.";
        QTest::newRow("an earlier build's")
            << ab << abc << -1 << me << ab
            << QString(cannot).replace("-1-", "-").replace("1 saved", "3") +
                   "it was left by an earlier version of Tavik, which did not record which of "
                   "its passwords were saves: copy what you need into the history, then remove "
                   "it.";
        QTest::newRow("empty, cut short as it was made")
            << ab << QByteArray() << 1 << me << ab << QString();
        QTest::newRow("a live write's") << ab << abc << 1 << me << ab << QString();
        QTest::newRow("nothing of its own, torn") << ab << ab + "\"c" << 0 << me << ab << QString();
        QByteArray hundredAndOne;
        for (int i = 1; i <= 101; ++i) {
            hundredAndOne += "\"record " + QByteArray::number(i) + "\"\r\n";
        }
        QTest::newRow("101 carried, all kept")
            << ab << hundredAndOne << 101 << me << hundredAndOne << QString();
        const QByteArray mib = ab + '"' + QByteArray(1048576 - 14, 'x') + "\"\r\n";
        QTest::newRow("1 MiB") << ab << mib << 1 << me << mib << QString();
        QTest::newRow("over 1 MiB") << ab << QByteArray(1048577, '\n') << 1 << me << ab
                                    << cannot + "it is too large to be a password history: "
                                                "remove it.";
        QTest::newRow("another user's") << ab << abc << 1 << 1234u << ab << QString();
        QTest::newRow("another user's, beside their history")
            << ab << abc << 1 << 1234u << abc << QString();
        QTest::newRow("a deleted history, in another user's folder")
            << QByteArray("none") << abc << 1 << 1234u << QByteArray("\"c\"\r\n") << QString();
    }
    void aWriteCutShortGivesBackExactlyWhatItCarried() {
        QFETCH(QByteArray, history);
        QFETCH(QByteArray, cutShort);
        QFETCH(int, carried);
        QFETCH(uint, owner);
        QFETCH(QByteArray, after);
        QFETCH(QString, told);
        if (owner != ::geteuid() && ::geteuid() != 0) {
            QSKIP("only root can make another user's file");
        }
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, history.toStdString()), std::string());
        const bool theirs = QByteArray(QTest::currentDataTag()).endsWith("their history");
        QVERIFY(!theirs || ::chown(QFile::encodeName(path()).constData(), owner, owner) == 0);
        // Ours: the user's; as root, the history's owner's, or with no history its folder's.
        const bool ours = owner == ::geteuid() || history == "none" || theirs;
        QVERIFY(history != "none" ||
                (QFile::remove(path()) &&
                 ::chown(QFile::encodeName(folder()).constData(), owner, owner) == 0));
        QFile left(path() + ".tavik-unfinished-" +
                   (carried < 0 ? QString() : QString::number(carried) + "-") + "Ab12Cd");
        QVERIFY(left.open(QIODevice::ReadWrite) && left.write(cutShort) == cutShort.size());
        QVERIFY(::fchown(left.handle(), owner, owner) == 0 && left.flush());
        const bool live = QTest::currentDataTag() == QByteArray("a live write's");
        QVERIFY(!live || ::flock(left.handle(), LOCK_EX) == 0);
        if (QTest::currentDataTag() == QByteArray("unreadable to its owner")) {
            fault = Fault{"opening a leftover", EACCES, 0};
        }
        history::HistoryFile file(store);
        QVERIFY(file.read().leftoversBeside == (ours && !live));
        QCOMPARE(file.write(), std::string());
        fault = Fault{};
        QCOMPARE(contentsOf(path()), after);
        QCOMPARE(left.exists(), !ours || !told.isEmpty() || live);
        const std::vector<std::string> notices = file.takeNotices();
        QCOMPARE(notices,
                 told.isEmpty() ? std::vector<std::string>() : std::vector{told.toStdString()});
        QCOMPARE(saveNow(file, "e"), std::string()); // told once, however many writes meet it
        QVERIFY(file.takeNotices().empty() &&
                (after.size() > 1000 || contentsOf(path()) == after + "\"e\"\r\n"));
    }

    // Nine writes cut short, made newest first: they are given back oldest first, each once.
    void manyWritesCutShortAreGivenBackOldestFirst() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        QByteArray expected("\"a\"\r\n");
        for (int n = 9; n >= 1; --n) {
            QFile left(path() + QString(".tavik-unfinished-1-Left0%1").arg(n));
            QVERIFY(left.open(QIODevice::WriteOnly) &&
                    left.write("\"a\"\r\n\"n0" + QByteArray::number(n) + "\"\r\n") > 0);
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000 + n, 0}};
            QVERIFY(::futimens(left.handle(), times) == 0);
            expected.insert(5, "\"n0" + QByteArray::number(10 - n) + "\"\r\n");
        }
        std::size_t atOnce = 0; // 8 at a time, and more to come
        store.update(
            [&](const platform::LockedHistory& now) {
                atOnce = now.moreLeftovers ? now.leftovers.size() : 0;
                return std::optional<platform::NewHistory>();
            },
            1s);
        QCOMPARE(atOnce, std::size_t(8));
        history::HistoryFile file(store);
        const qsizetype descriptors = QDir("/proc/self/fd").count();
        QVERIFY(file.read().leftoversBeside);
        QCOMPARE(file.write(), std::string());
        QCOMPARE(contentsOf(path()), expected);
        QCOMPARE(QDir(folder()).entryList(QDir::Files).size(), 2); // the history and its lock
        QCOMPARE(QDir("/proc/self/fd").count(), descriptors);      // none left open
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
        FileHistoryStore store(name.toStdString());
        const platform::StoredHistory stored = store.read();
        if (socketFd >= 0) {
            ::close(socketFd);
        }
        QCOMPARE(stored.state, State::Unreadable);
        QCOMPARE(QString::fromStdString(stored.problem), reason);
        QVERIFY(stored.bytes.empty());
    }

    // A file at the limit, 1 MiB, loads, one past it does not, and what the program writes stays
    // within it, the newest entries and the new save: a file it wrote is one it reads back.
    void aHugeFileIsNotReadIntoMemory() {
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray older = '"' + QByteArray(500000, 'x') + "\"\r\n";
        const QByteArray newer = '"' + QByteArray(548561, 'y') + "\"\r\n";
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("\"old\"\r\n" + older + newer), 1048576);
        file.close();
        FileHistoryStore store(path().toStdString());
        history::HistoryFile history(store);
        QCOMPARE(history.read().entries.size(), std::size_t(3));
        QCOMPARE(saveNow(history, "new"), std::string());
        QCOMPARE(contentsOf(path()), older + newer + "\"new\"\r\n");
        QVERIFY(file.resize(1048576 + 1)); // sparse: costs no disk
        QCOMPARE(store.read().state, State::Unreadable);
        QVERIFY(file.resize(1048576)); // and one that grows past it while it is read
        during = {"read", 0, [&] {
                      QVERIFY(file.resize(1048576 + 1));
                  }};
        QCOMPARE(store.read().state, State::Unreadable);
    }

    void aFileSizeLimitFailsTheWriteAndLeavesThePreviousFileWhole() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"old\"\r\n"), std::string());

        // A real file size limit, as `ulimit -f` sets: the program must have SIGXFSZ ignored, or
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
        QTest::addColumn<QString>("told");
        QTest::newRow("creating the lock")
            << Fault{"openat", EROFS} << false
            << "the lock file beside it could not be created (Read-only file system)";
        QTest::newRow("opening the lock")
            << Fault{"opening the lock", EIO} << false
            << "the lock file beside it could not be opened (Input/output error)";
        QTest::newRow("locking") << Fault{"flock", ENOLCK} << false
                                 << "it could not be locked (No locks available)";
        QTest::newRow("creating the new file")
            << Fault{"mkostemp", EDQUOT} << false
            << "a new file beside it could not be created (Disk quota exceeded)";
        QTest::newRow("its mode") << Fault{"fchmod", EPERM} << false
                                  << "its permissions could not be set (Operation not permitted)";
        QTest::newRow("write EIO") << Fault{"write", EIO} << false << "Input/output error";
        QTest::newRow("write ENOSPC")
            << Fault{"write", ENOSPC} << false << "No space left on device";
        QTest::newRow("write EDQUOT") << Fault{"write", EDQUOT} << false << "Disk quota exceeded";
        QTest::newRow("write EFBIG") << Fault{"write", EFBIG} << false << "File too large";
        QTest::newRow("short write")
            << Fault{"write", ENOSPC, 0, true} << false << "No space left on device";
        QTest::newRow("nothing written, EINTR left in errno")
            << Fault{"write", EINTR, 0, true} << false << "No space left on device";
        QTest::newRow("its fsync") << Fault{"fsync", EIO} << false << "Input/output error";
        QTest::newRow("its fsync interrupted, not failed") << Fault{"fsync", EINTR} << false << "";
        QTest::newRow("the rename") << Fault{"rename", EIO} << false
                                    << "the new file could not take its place (Input/output error)";
        QTest::newRow("the folder's fsync")
            << Fault{"fsync", EIO, 1} << true
            << "its folder could not be flushed to disk (Input/output error)";
    }

    void everyFailingStepIsAFailedWrite() {
        QFETCH(Fault, injected);
        QFETCH(bool, swapped);
        QFETCH(QString, told);
        FileHistoryStore store(path().toStdString());
        history::HistoryFile file(store);
        file.read();
        QCOMPARE(saveNow(file, "old"), std::string());
        const QByteArray old = contentsOf(path());
        const QByteArray both("\"old\"\r\n\"new\"\r\n");

        fault = injected;
        const qsizetype descriptors = QDir("/proc/self/fd").count();
        const std::string problem = saveNow(file, "new");
        fault = Fault{};
        QCOMPARE(QString::fromStdString(problem), told);
        QCOMPARE(QDir("/proc/self/fd").count(), descriptors); // nothing held open
        if (told.isEmpty()) {                                 // asked for again: nothing failed
            QCOMPARE(contentsOf(path()), both);
            return;
        }
        QCOMPARE(contentsOf(path()), swapped ? both : old);
        QCOMPARE(standing(file), std::string(swapped ? "1 saved password(s) are in F, but the disk "
                                                       "has not confirmed them."
                                                     : "1 saved password(s) were only in memory: "
                                                       "they are lost."));
        QCOMPARE(
            QDir(folder()).entryList(QDir::Files),
            (QStringList{QStringLiteral("passwords.txt"), QStringLiteral("passwords.txt.lock")}));

        QCOMPARE(file.write(), std::string());
        QCOMPARE(contentsOf(path()), both);
        QCOMPARE(standing(file), std::string());
    }

    // The real file is written, and its folder keeps its mode (setgid bit and all); a link into
    // a folder that is not there (a disk not mounted) is told, with nothing made on its way.
    void linksAreFollowedAndNothingElseChanges_data() {
        QTest::addColumn<QByteArray>("target"); // TOP stands for the test's own folder
        QTest::addColumn<QByteArray>("folder"); // the real file's, under TOP; none when dangling
        QTest::newRow("into a shared folder")
            << QByteArray("TOP/shared/passwords.txt") << QByteArray("shared");
        QTest::newRow("a chain of two, one relative")
            << QByteArray("TOP/hop") << QByteArray("shared");
        QTest::newRow("into a Latin-1 folder")
            << QByteArray("TOP/caf\xe9/passwords.txt") << QByteArray("caf\xe9");
        QTest::newRow("dangling") << QByteArray("TOP/usb/tavik/passwords.txt") << QByteArray();
    }

    void linksAreFollowedAndNothingElseChanges() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, folder);
        const std::string top = (dir_.path() + QStringLiteral("/share")).toStdString();
        for (const char* made : {"", "/data", "/data/tavik", "/shared", "/caf\xe9"}) {
            QVERIFY(::mkdir((top + made).c_str(), 0700) == 0 &&
                    ::chmod((top + made).c_str(), 02775) == 0);
        }
        const std::string link = top + "/data/tavik/passwords.txt";
        QVERIFY(::symlink("shared/passwords.txt", (top + "/hop").c_str()) == 0);
        QVERIFY(::symlink(target.replace("TOP", top.c_str()).constData(), link.c_str()) == 0);
        FileHistoryStore store(link);
        history::HistoryFile file(store);
        file.read();
        const std::string problem = saveNow(file, "new");
        QVERIFY2(folder.isEmpty() ? problem.find("which is not there") != std::string::npos
                                  : problem.empty(),
                 problem.c_str());
        QCOMPARE(store.read().bytes, std::string(folder.isEmpty() ? "" : "\"new\"\r\n"));
        struct stat status {};
        ::stat((top + "/" + (folder.isEmpty() ? "usb" : folder.toStdString())).c_str(), &status);
        QCOMPARE(status.st_mode & 07777, mode_t(folder.isEmpty() ? 0 : 02775));
    }

    // Run as root in a user's folder, what it makes is the user's: the user's next run opens it.
    // What it finds there it never gives away: a lock that is a hard link to a file of root's is
    // not used, another owner's file of our temporary form stays; a lock of root's own earlier
    // run, a plain file, goes back to the user.
    void asRootTheUsersFilesStayTheUsersAndNothingFoundIsGivenAway() {
        if (::geteuid() != 0) {
            QSKIP("only root can give files away");
        }
        const auto owner = [](const QString& path) {
            struct stat status {};
            ::lstat(QFile::encodeName(path).constData(), &status);
            return QString::asprintf("%u:%u %o", status.st_uid, status.st_gid,
                                     status.st_mode & 07777);
        };
        const QString share = dir_.path() + QStringLiteral("/share"), other = share + "/root-only";
        QVERIFY(QDir().mkpath(share) &&
                ::chown(QFile::encodeName(share).constData(), 1, 1) == 0); // uid 1, next to root's
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string()); // the folder made, then the file
        QVERIFY(QFile::remove(path() + ".lock"));
        QVERIFY(QFile(other).open(QIODevice::WriteOnly) &&
                QFile(other).setPermissions(QFile::ReadOwner));
        QVERIFY(::link(QFile::encodeName(other).constData(),
                       QFile::encodeName(path() + ".lock").constData()) == 0);
        const QString foreign = path() + ".tavik-unfinished-Ab12Cd";
        QVERIFY(QFile(foreign).open(QIODevice::WriteOnly) &&
                ::chown(QFile::encodeName(foreign).constData(), 1234, 1234) == 0);
        const std::string problem = writeBytes(store, "\"b\"\r\n");
        QCOMPARE(owner(other), QStringLiteral("0:0 400"));
        QVERIFY2(problem.find("hard link") != std::string::npos, problem.c_str());
        // A lock of root's with content was never one of ours: used, never given away.
        QFile withContent(path() + ".lock");
        QVERIFY(QFile::remove(path() + ".lock") && withContent.open(QIODevice::WriteOnly) &&
                withContent.write("notes") == 5 && withContent.flush());
        QCOMPARE(writeBytes(store, "\"b\"\r\n"), std::string());
        QCOMPARE(owner(path() + ".lock"), QStringLiteral("0:0 644"));
        QVERIFY(QFile::remove(path() + ".lock") &&
                QFile(path() + ".lock").open(QIODevice::WriteOnly));
        QCOMPARE(writeBytes(store, "\"b\"\r\n"), std::string());
        QCOMPARE(contentsOf(path()), QByteArray("\"b\"\r\n"));
        QCOMPARE(QStringList({owner(folder()), owner(path()), owner(path() + ".lock"),
                              owner(foreign), owner(other)}),
                 QStringList({"1:1 700", "1:1 600", "1:1 644", "1234:1234 644", "0:0 400"}));
    }

    // Two writers, the second through a link to the file: while the first rewrites the file
    // under its lock, the second must wait, and then build on the first one's result.
    void aSecondWriterWaitsForTheFirstAndSeesItsResult() {
        FileHistoryStore first(path().toStdString());
        QCOMPARE(writeBytes(first, "\"old\"\r\n"), std::string());
        QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/linked")));
        QVERIFY(QFile::link(path(), dir_.path() + QStringLiteral("/linked/passwords.txt")));
        FileHistoryStore second(
            (dir_.path() + QStringLiteral("/linked/passwords.txt")).toStdString());
        const auto append = [](const char* entry, std::function<void()> whileLocked) {
            return [=](const platform::LockedHistory& now) {
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

    // The lock file removed while a write flushes its new file (a cleaner): another copy takes a
    // new lock and writes, leaving the first one's new file alone; the first then writes again,
    // under the new lock, on top of the other's save, once.
    void aLockFileRemovedDuringAWriteLetsNoTwoWritersOverlap() {
        FileHistoryStore first(path().toStdString()), second(path().toStdString());
        history::HistoryFile mine(first), theirs(second);
        QCOMPARE(saveNow(mine, "old"), std::string());
        during = {"fsync", 0, [&] {
                      QVERIFY(QFile::remove(path() + ".lock"));
                      QCOMPARE(saveNow(theirs, "two"), std::string());
                  }};
        QCOMPARE(saveNow(mine, "one"), std::string());
        QCOMPARE(contentsOf(path()), QByteArray("\"old\"\r\n\"two\"\r\n\"one\"\r\n"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files).size(), 2); // the history and its lock
        // Removed between a create that found it and the look at it, or its open: made again.
        for (const char* between : {"fstatat", "openat"}) {
            during = {between, 0, [&] {
                          QVERIFY(QFile::remove(path() + ".lock"));
                      }};
            QCOMPARE(saveNow(mine, between), std::string());
        }
        const QByteArray four("\"old\"\r\n\"two\"\r\n\"one\"\r\n\"fstatat\"\r\n\"openat\"\r\n");
        QCOMPARE(contentsOf(path()), four);
        // Taken from under every try: the write starts again twice, then says why it failed.
        int taken = 0;
        std::function<void()> takeTheLock = [&] {
            ++taken;
            QFile::remove(path() + ".lock");
            during = {"fsync", 0, takeTheLock};
        };
        during = {"fsync", 0, takeTheLock};
        const std::string problem = saveNow(mine, "four");
        during = {};
        QCOMPARE(problem, std::string("its lock file was removed during the write"));
        QCOMPARE(taken, 3);
        QCOMPARE(contentsOf(path()), four);
        // Made before every create and removed before every look, by others: three tries.
        int made = 0;
        std::function<void()> makeIt, removeIt = [&] {
            QFile::remove(path() + ".lock");
            during = {"create", 0, makeIt};
        };
        makeIt = [&] {
            made += QFile(path() + ".lock").open(QIODevice::WriteOnly);
            during = {"fstatat", 0, removeIt};
        };
        during = {"create", 0, makeIt};
        QCOMPARE(saveNow(mine, "five"), std::string("the lock file beside it could not be created "
                                                    "(Resource temporarily unavailable)"));
        during = {};
        QCOMPARE(made, 3);
    }

    // A failed write whose new file cannot be removed (a disk gone read-only) never takes that
    // file for a write cut short: its retry writes the save once, and then the file goes.
    void aWritesOwnNewFileNeverComesBackToIt() {
        FileHistoryStore store(path().toStdString());
        history::HistoryFile file(store);
        fault = Fault{"fsync", EIO};
        unlinkFails = EROFS;
        const std::string problem = saveNow(file, "one");
        fault = Fault{};
        QCOMPARE(problem, std::string("Input/output error"));
        // Passed over, it does not hide a newer one of another write's; still not removable,
        // it is not come back to either.
        QFile left(path() + ".tavik-unfinished-1-Ab12Cd");
        const struct timespec later[2] = {{0, UTIME_OMIT}, {4000000000, 0}};
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("\"one\"\r\n\"two\"\r\n") == 14 &&
                ::futimens(left.handle(), later) == 0);
        left.close();
        QCOMPARE(file.write(), std::string());
        unlinkFails = 0;
        QCOMPARE(saveNow(file, "three"), std::string());
        QCOMPARE(contentsOf(path()), QByteArray("\"two\"\r\n\"one\"\r\n\"three\"\r\n"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files).size(), 2);
    }

    // What failed writes leave is counted right: a save given back is not lost while its file
    // is kept; saves in the file but not confirmed are the first to go past 101 kept.
    void whatFailedWritesLeaveIsCountedRight() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        QFile left(path() + ".tavik-unfinished-1-Ab12Cd");
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("\"a\"\r\n\"b\"\r\n") == 10);
        left.close();
        history::HistoryFile file(store);
        fault = Fault{"write", EIO};
        QCOMPARE(saveNow(file, "c"), std::string("Input/output error"));
        QCOMPARE(standing(file), std::string("1 saved password(s) were only in memory: they are "
                                             "lost. 1 saved password(s) stay beside F, and the "
                                             "next start gives them back."));
        fault = Fault{"fsync", EIO, 1}; // the folder's
        QCOMPARE(saveNow(file, "d"),
                 std::string("its folder could not be flushed to disk (Input/output error)"));
        QCOMPARE(standing(file),
                 std::string("3 saved password(s) are in F, but the disk has not confirmed them."));
        fault = Fault{"write", EIO};
        std::vector<std::string> kept;
        for (int i = 1; i <= 101; ++i) {
            saveNow(file, kept.emplace_back("k" + std::to_string(i)));
        }
        fault = Fault{};
        QCOMPARE(file.write(), std::string());
        QCOMPARE(contentsOf(path()), QByteArray::fromStdString(history::formatHistory(kept)));
    }

    void theRewriteSeesTheFileAsItIsNowAndMayDecline() {
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        std::string seen;
        const auto decline = [&](const platform::LockedHistory& now) {
            seen = now.bytes;
            return std::optional<std::string>();
        };
        const std::string problem = store.update(decline, 1s).problem;
        QCOMPARE(problem, std::string());
        QCOMPARE(seen, std::string("\"a\"\r\n"));
        QCOMPARE(contentsOf(path()), QByteArray("\"a\"\r\n"));
    }

    // Held from the start, or put in the place of the one this write opened just before it locks
    // it: waited for, then reported.
    void aLockHeldElsewhereIsWaitedForThenReported() {
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray lockName = QFile::encodeName(path() + QStringLiteral(".lock"));
        int otherCopy = -1;
        const auto takeIt = [&] {
            QFile::remove(lockName);
            otherCopy = ::open(lockName.constData(), O_RDWR | O_CREAT, 0600);
            QVERIFY(::flock(otherCopy, LOCK_EX) == 0);
        };
        FileHistoryStore store(path().toStdString());
        for (const bool replaced : {false, true}) {
            replaced ? void(during = {"flock", 0, takeIt}) : takeIt();
            QCOMPARE(writeBytes(store, "\"x\"\r\n", 200ms),
                     std::string("the history is locked by another program, or by another copy of "
                                 "Tavik still finishing a write"));
            QVERIFY(!QFile::exists(path()));
            ::close(otherCopy);
        }
        QCOMPARE(writeBytes(store, "\"x\"\r\n"), std::string());
    }

    // What stands at the lock's place is told by what it is, and nothing is written.
    void whatIsAtTheLocksPlaceIsToldByWhatItIs_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "a folder";
        QTest::newRow("link") << "a symbolic link";
        QTest::newRow("FIFO") << "a FIFO";
    }
    void whatIsAtTheLocksPlaceIsToldByWhatItIs() {
        QFETCH(QString, kind);
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray lock = QFile::encodeName(path() + QStringLiteral(".lock"));
        QVERIFY(kind == "a folder"          ? ::mkdir(lock.constData(), 0700) == 0
                : kind == "a symbolic link" ? ::symlink("elsewhere", lock.constData()) == 0
                                            : ::mkfifo(lock.constData(), 0600) == 0);
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"x\"\r\n"),
                 "the lock file beside it is " + kind.toStdString() + ", so it was not used");
        QVERIFY(!QFile::exists(path()));
    }

    // A write that does not come back is told by the step it is at: before its new file holds
    // every save it carries, they are lost; while its flush waits, what it wrote is beside the
    // file; once in place, only the disk's word is missing.
    void aWriteThatDoesNotComeBackIsToldByItsStep_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("skip");
        QTest::addColumn<QString>("words");
        const QString lost = "1 saved password(s) were only in memory: they are lost.";
        QTest::newRow("making the folder") << "mkdirat" << 0 << lost;
        QTest::newRow("reading the history under the lock") << "read" << 0 << lost;
        QTest::newRow("making the new file") << "mkostemp" << 0 << lost;
        QTest::newRow("writing it") << "write" << 0 << lost;
        QTest::newRow("flushing it") << "fsync" << 0
                                     << "the disk has not confirmed the write of 1 saved "
                                        "password(s) to FILE: what it wrote is beside the file, "
                                        "and the next start finishes it.";
        QTest::newRow("after the swap")
            << "fsync" << 1
            << "1 saved password(s) are in FILE, but the disk has not confirmed them.";
    }
    void aWriteThatDoesNotComeBackIsToldByItsStep() {
        QFETCH(QString, call);
        QFETCH(int, skip);
        QFETCH(QString, words);
        FileHistoryStore store(path().toStdString());
        QVERIFY(call != "read" || writeBytes(store, "\"old\"\r\n").empty());
        history::HistoryFile file(store);
        std::promise<void> reached, opening;
        during = {call.toStdString(), skip, [&, open = opening.get_future().share()] {
                      reached.set_value();
                      open.wait();
                  }};
        history::HistoryWriter writer(file, [] {});
        writer.save("a");
        reached.get_future().wait();
        const history::HistoryWriter::Ending ending = writer.finish(100ms);
        opening.set_value();
        QCOMPARE(QString::fromStdString(ending.account), words.replace("FILE", path()));
        QVERIFY(!ending.safe);
    }

    // A write that gives a leftover's save back, cut short (as by kill -9) at each of its calls in
    // turn, in a child process: after the next start, each save is in the history once, or, when
    // its new file was never whole, the newest save is lost; nothing else is left beside it.
    void eachSaveIsDescribedOnceWhereverAWriteIsCutShort_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("mine"); // in the history after the next start
        QTest::newRow("taking the lock") << "flock" << 0 << 0;
        QTest::newRow("locking the leftover") << "flock" << 1 << 0;
        QTest::newRow("reading the leftover") << "read" << 0 << 0;
        QTest::newRow("making the new file") << "mkostemp" << 0 << 0;
        QTest::newRow("writing it") << "write" << 0 << 0;
        QTest::newRow("flushing it") << "fsync" << 0 << 1;
        QTest::newRow("marking the leftover taken") << "rename" << 0 << 1;
        QTest::newRow("putting the new file in place") << "rename" << 1 << 1;
        QTest::newRow("flushing the folder") << "fsync" << 1 << 1;
        QTest::newRow("removing the leftover") << "unlink" << 0 << 1;
        QTest::newRow("putting the leftover's name back, its place refused") << "rename" << 2 << 1;
    }
    void eachSaveIsDescribedOnceWhereverAWriteIsCutShort() {
        QFETCH(QString, call);
        QFETCH(int, skip);
        QFETCH(int, mine);
        FileHistoryStore store(path().toStdString());
        QCOMPARE(writeBytes(store, "\"old\"\r\n"), std::string());
        QFile left(path() + ".tavik-unfinished-1-Ab12Cd");
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("\"old\"\r\n\"given\"\r\n") > 0);
        left.close();
        const pid_t child = ::fork();
        if (child == 0) {
            history::HistoryFile file(store);
            file.read();
            file.keep("mine");
            if (QByteArray(QTest::currentDataTag()).endsWith("its place refused")) {
                fault = Fault{"rename", EIO, 1, false, true};
            }
            during = {call.toStdString(), skip, [] {
                          ::_exit(9);
                      }};
            file.write();
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 9); // cut short at that call
        FileHistoryStore nextStart(path().toStdString());
        history::HistoryFile next(nextStart);
        next.read();
        QCOMPARE(next.write(), std::string());
        const QByteArray after = contentsOf(path());
        QCOMPARE(after.count("\"given\""), 1);
        QCOMPARE(after.count("\"mine\""), mine);
        QCOMPARE(
            QDir(folder()).entryList(QDir::Files),
            (QStringList{QStringLiteral("passwords.txt"), QStringLiteral("passwords.txt.lock")}));
    }
};

QTEST_GUILESS_MAIN(FileHistoryStoreTest)
#include "tst_file_history_store.moc"
