#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real history is under 2 KB; anything larger than this is not one, and is not read into
// memory.
constexpr std::size_t LargestReadableFile = 1024 * 1024;
constexpr char TooLarge[] = "it is too large to be a password history";
constexpr char NoHomeFolder[] = "there is no home folder to keep it in";

std::string systemReason(int error = errno) {
    return std::strerror(error);
}

std::string because(const char* what, int error = errno) {
    return std::string(what) + " (" + systemReason(error) + ")";
}

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes it now, saying why the close failed (a delayed write error, on some file systems).
    std::string close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 || errno == EINTR ? std::string() : systemReason();
    }

private:
    int fd_;
};

// Writes all of `bytes` to `fd` and flushes them to the disk, or says why it could not.
std::string writeAndSync(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return systemReason(n < 0 ? errno : ENOSPC);
        }
        written += std::size_t(n);
    }
    return ::fsync(fd) == 0 ? std::string() : systemReason();
}

// Makes the rename that replaced the file durable as well as its contents.
std::string syncFolder(const QString& folder) {
    const Descriptor fd(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        return because("its folder could not be flushed to disk");
    }
    return {};
}

// An exclusive flock(2) on a file beside the history, held until this object goes.
// Deliberately not QLockFile: it cannot say why a lock file could not be made (a full disk, a
// read-only folder and a folder in its place all look alike), it waits out its whole timeout
// when a folder stands at the lock's path, and its doubling retry interval lets copies that
// wait behind many others time out. A kernel lock also goes with a process that is killed, so
// there is no stale lock to detect.
class HistoryLock {
public:
    explicit HistoryLock(const QString& path)
        : fd_(::open(encoded(path).constData(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IRUSR | S_IWUSR)) {
        if (fd_.get() < 0) {
            problem_ = because("the lock file beside it could not be created");
        }
    }

    // Tries at short, random intervals until `wait` has passed, so that many copies closing at
    // once take turns rather than back off in step. Returns what went wrong, if anything.
    std::string acquire(std::chrono::milliseconds wait) {
        if (!problem_.empty()) {
            return problem_;
        }
        const auto deadline = std::chrono::steady_clock::now() + wait;
        std::minstd_rand jitter(unsigned(::getpid()));
        std::uniform_int_distribution<int> pauseMs(2, 20);
        for (;;) {
            if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
                return {};
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return because("it could not be locked");
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return "the history is locked by another program";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(jitter)));
        }
    }

private:
    Descriptor fd_;
    std::string problem_;
};

StoredHistory unreadable(std::string problem) {
    StoredHistory stored;
    stored.state = StoredHistory::State::Unreadable;
    stored.problem = std::move(problem);
    return stored;
}

StoredHistory readFile(const QString& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const Descriptor fd(::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? StoredHistory{} : unreadable(systemReason());
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return unreadable(systemReason());
    }
    if (S_ISDIR(status.st_mode)) {
        return unreadable("it is a folder");
    }
    // A FIFO, a socket or a device such as /dev/zero may never end.
    if (!S_ISREG(status.st_mode)) {
        return unreadable("it is not a regular file");
    }
    if (std::size_t(status.st_size) > LargestReadableFile) {
        return unreadable(TooLarge);
    }
    // Read to the end, but never past the limit: the file may grow meanwhile.
    StoredHistory stored;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return unreadable(systemReason());
        }
        if (n == 0) {
            break;
        }
        stored.bytes.append(chunk, std::size_t(n));
        if (stored.bytes.size() > LargestReadableFile) {
            return unreadable(TooLarge);
        }
    }
    stored.state = StoredHistory::State::Present;
    return stored;
}

// The file that `path` finally names, every symlink on the way followed: every route to one
// file then takes the same lock beside it, and a write replaces the file, not a link to it.
QString realFile(const QString& path) {
    QFileInfo file(path);
    for (int hops = 0; hops < 40 && file.isSymLink(); ++hops) {
        file.setFile(file.symLinkTarget());
    }
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : folder + QLatin1Char('/') + file.fileName();
}

std::string ensurePrivateFolder(const QString& folder) {
    const QByteArray name = encoded(folder);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        // The folders above ours get the usual permissions; ours holds passwords, so only its
        // owner may even list it.
        if (!QDir().mkpath(QFileInfo(folder).absolutePath()) ||
            ::mkdir(name.constData(), S_IRWXU) != 0) {
            return because("its folder could not be created");
        }
        return {};
    }
    if (!S_ISDIR(status.st_mode)) {
        return "its folder " + folder.toStdString() + " is not a folder";
    }
    // A folder of ours left open to others (by hand, or by an old umask) is closed again.
    if (status.st_uid == ::getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 &&
        ::chmod(name.constData(), S_IRWXU) != 0) {
        return because("its folder could not be made private");
    }
    return {};
}

// Writes `bytes` to a new file beside `path`, private to its owner, flushes it to disk and
// renames it over `path`, checking every step; a failure after the rename says the file was
// replaced. Deliberately not QSaveFile: Qt 6.4's commit() does not report a failed final flush,
// it never flushes the folder, and this also runs from the exit hook, where as little of Qt as
// possible should be involved.
HistoryStore::Outcome replaceFile(const QString& path, const std::string& bytes) {
    QByteArray temporaryName = encoded(path) + ".XXXXXX";
    Descriptor file(::mkostemp(temporaryName.data(), O_CLOEXEC));
    if (file.get() < 0) {
        return {because("a new file beside it could not be created")};
    }
    // The umask may have taken the owner's own rights away.
    std::string problem = ::fchmod(file.get(), S_IRUSR | S_IWUSR) == 0
                              ? writeAndSync(file.get(), bytes)
                              : because("its permissions could not be set");
    if (const std::string closed = file.close(); problem.empty()) {
        problem = closed;
    }
    if (problem.empty() && ::rename(temporaryName.constData(), encoded(path).constData()) != 0) {
        problem = because("the new file could not take its place");
    }
    if (!problem.empty()) {
        ::unlink(temporaryName.constData());
        return {problem};
    }
    return {syncFolder(QFileInfo(path).absolutePath()), true};
}

// Where the history folder goes by the XDG rules, in the bytes the system gives, and where
// that came from: $XDG_DATA_HOME when it is absolute (a relative one is to be ignored), else
// .local/share in the home folder, which is $HOME when that is absolute, else the one the user
// database gives.
std::pair<QByteArray, const char*> dataHome() {
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (dataHome.startsWith('/')) {
        return {dataHome, "XDG_DATA_HOME"};
    }
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/')) {
        return {home + "/.local/share", "HOME"};
    }
    const struct passwd* user = ::getpwuid(::getuid());
    if (user && user->pw_dir && user->pw_dir[0] == '/') {
        return {QByteArray(user->pw_dir) + "/.local/share", "the user database"};
    }
    return {};
}

} // namespace

// Deliberately not QStandardPaths: Qt 6.4 takes a relative $XDG_DATA_HOME as it is, which puts
// the passwords under whatever folder the program was started in, and without $HOME it builds
// "//.local/share".
FileHistoryStore::Location FileHistoryStore::defaultLocation() {
    const auto [folder, source] = dataHome();
    if (folder.isEmpty()) {
        return {{}, NoHomeFolder};
    }
    // Qt's file names are Unicode, read as UTF-8: other bytes (a Latin-1 name) would silently
    // name another folder, with U+FFFD in it, and the history would seem lost.
    const QString name = QFile::decodeName(folder);
    if (QFile::encodeName(name) != folder) {
        return {{},
                std::string("the name of its folder, from ") + source +
                    ", is not valid UTF-8: " + name.toStdString()};
    }
    return {QDir::cleanPath(name + QStringLiteral("/tavik/passwords.txt")), {}};
}

FileHistoryStore::FileHistoryStore(Location location)
    : location_(std::move(location)) {
    // Under a file-size limit (ulimit -f), a write past it would kill the program with SIGXFSZ,
    // and this run's saves with it. Ignored, the write fails with EFBIG and is told.
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string FileHistoryStore::location() const {
    return location_.path.isEmpty() ? std::string("the history file")
                                    : location_.path.toStdString();
}

StoredHistory FileHistoryStore::read() {
    return location_.problem.empty() ? readFile(location_.path) : unreadable(location_.problem);
}

HistoryStore::Outcome FileHistoryStore::update(const Rewrite& rewrite,
                                               std::chrono::milliseconds lockWait) {
    if (!location_.problem.empty()) {
        return {location_.problem};
    }
    const QString path = realFile(location_.path);
    if (std::string problem = ensurePrivateFolder(QFileInfo(path).absolutePath());
        !problem.empty()) {
        return {problem};
    }
    HistoryLock lock(path + QStringLiteral(".lock"));
    if (std::string problem = lock.acquire(lockWait); !problem.empty()) {
        return {problem};
    }
    const std::optional<std::string> bytes = rewrite(readFile(path));
    return bytes ? replaceFile(path, *bytes) : Outcome{};
}

} // namespace platform
