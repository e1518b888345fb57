#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real history is under 2 KB; anything this large is not one, and is not read into memory.
constexpr std::size_t LargestReadableFile = 64 * 1024 * 1024;
constexpr char TooLarge[] = "it is too large to be a password history";
constexpr char NoHomeFolder[] = "there is no home folder to keep it in";

std::string systemReason(int error = errno) {
    return std::strerror(error);
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
void syncFolder(const QString& folder) {
    const Descriptor fd(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::fsync(fd.get());
    }
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
            problem_ = "the lock file beside it could not be created (" + systemReason() + ")";
        }
    }

    // Tries at short, random intervals until `timeoutMs` has passed, so that many copies
    // closing at once take turns rather than back off in step. Returns what went wrong, if
    // anything.
    std::string acquire(int timeoutMs) {
        if (!problem_.empty()) {
            return problem_;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::minstd_rand jitter(unsigned(::getpid()));
        std::uniform_int_distribution<int> pauseMs(2, 20);
        for (;;) {
            if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
                return {};
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return "it could not be locked (" + systemReason() + ")";
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return "another copy of Tavik kept it locked";
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

// The home folder: $HOME when it is an absolute path, else the one the user database gives.
QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home)) {
        return home;
    }
    const struct passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir && user->pw_dir[0] == '/' ? QFile::decodeName(user->pw_dir)
                                                          : QString();
}

} // namespace

// Deliberately not QStandardPaths: Qt 6.4 takes a relative $XDG_DATA_HOME as it is, which puts
// the passwords under whatever folder the program was started in, and without $HOME it builds
// "//.local/share". The XDG rules say a relative value is to be ignored.
QString FileHistoryStore::defaultPath() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome)) {
        const QString home = homeFolder();
        if (home.isEmpty()) {
            return {};
        }
        dataHome = home + QStringLiteral("/.local/share");
    }
    return QDir::cleanPath(dataHome + QStringLiteral("/tavik/passwords.txt"));
}

FileHistoryStore::FileHistoryStore(QString path, int lockTimeoutMs)
    : path_(std::move(path))
    , lockTimeoutMs_(lockTimeoutMs) {}

std::string FileHistoryStore::location() const {
    return path_.isEmpty() ? std::string("the history file") : path_.toStdString();
}

StoredHistory FileHistoryStore::read() {
    if (path_.isEmpty()) {
        return unreadable(NoHomeFolder);
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const Descriptor fd(::open(encoded(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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

std::string FileHistoryStore::update(const Rewrite& rewrite) {
    if (path_.isEmpty()) {
        return NoHomeFolder;
    }
    if (std::string problem = ensurePrivateFolder(); !problem.empty()) {
        return problem;
    }
    HistoryLock lock(path_ + QStringLiteral(".lock"));
    if (std::string problem = lock.acquire(lockTimeoutMs_); !problem.empty()) {
        return problem;
    }
    const std::optional<std::string> bytes = rewrite(read());
    return bytes ? replaceFile(*bytes) : std::string();
}

std::string FileHistoryStore::ensurePrivateFolder() const {
    const QString folder = QFileInfo(path_).absolutePath();
    const QByteArray name = encoded(folder);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        // The folders above ours get the usual permissions; ours holds passwords, so only its
        // owner may even list it.
        if (!QDir().mkpath(QFileInfo(folder).absolutePath()) ||
            ::mkdir(name.constData(), S_IRWXU) != 0) {
            return "its folder could not be created (" + systemReason() + ")";
        }
        return {};
    }
    if (!S_ISDIR(status.st_mode)) {
        return "its folder " + folder.toStdString() + " is not a folder";
    }
    // A folder of ours left open to others (by hand, or by an old umask) is closed again.
    if (status.st_uid == ::getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 &&
        ::chmod(name.constData(), S_IRWXU) != 0) {
        return "its folder could not be made private (" + systemReason() + ")";
    }
    return {};
}

std::string FileHistoryStore::replaceFile(const std::string& bytes) const {
    // QSaveFile writes a temporary file beside the target and renames it over the old file, so
    // an interrupted write leaves the old file whole. The bytes go through the descriptor here,
    // checked and flushed to disk before the rename: Qt 6.4's commit() does not report a failed
    // final flush, and would rename a short file over the history.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString().toStdString();
    }
    // The temporary file would otherwise get 0666 less the umask: make it private before any
    // password is written to it.
    std::string problem;
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        problem = "its permissions could not be set (" + systemReason() + ")";
    } else {
        problem = writeAndSync(file.handle(), bytes);
    }
    if (!problem.empty()) {
        file.cancelWriting();
        return problem;
    }
    if (!file.commit()) {
        return file.errorString().toStdString();
    }
    syncFolder(QFileInfo(path_).absolutePath());
    return {};
}

} // namespace platform
