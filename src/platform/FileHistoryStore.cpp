#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real history is under 2 KB; anything this large is not one, and is not read into memory.
constexpr qint64 LargestReadableFile = 64 * 1024 * 1024;

std::string describe(const QFileDevice& file) {
    return file.errorString().toStdString();
}

// Makes the rename that replaced the file durable as well as its contents.
void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString FileHistoryStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/tavik/passwords.txt");
}

FileHistoryStore::FileHistoryStore(QString path, int lockTimeoutMs)
    : path_(std::move(path))
    , lockTimeoutMs_(lockTimeoutMs) {}

std::string FileHistoryStore::location() const {
    return path_.toStdString();
}

StoredHistory FileHistoryStore::read() {
    StoredHistory stored;
    const QFileInfo info(path_);
    if (!info.exists()) {
        stored.state = StoredHistory::State::Missing;
        return stored;
    }
    stored.state = StoredHistory::State::Unreadable;
    if (info.isDir()) {
        stored.problem = "it is a folder";
        return stored;
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        stored.problem = describe(file);
        return stored;
    }
    if (file.size() > LargestReadableFile) {
        stored.problem = "it is too large to be a password history";
        return stored;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        stored.problem = describe(file);
        return stored;
    }
    stored.state = StoredHistory::State::Present;
    stored.bytes = bytes.toStdString();
    return stored;
}

std::string FileHistoryStore::update(const Rewrite& rewrite) {
    if (std::string problem = ensureFolder(); !problem.empty()) {
        return problem;
    }
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.tryLock(lockTimeoutMs_)) {
        return lock.error() == QLockFile::LockFailedError
                   ? "another copy of Tavik kept the file locked"
                   : "the lock file beside it could not be created";
    }
    const std::optional<std::string> bytes = rewrite(read());
    return bytes ? replaceFile(*bytes) : std::string();
}

std::string FileHistoryStore::ensureFolder() const {
    const QString folder = QFileInfo(path_).absolutePath();
    if (QFileInfo(folder).isDir()) {
        return {};
    }
    // The folders above ours get the usual permissions; ours holds passwords, so only its
    // owner may even list it.
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent) ||
        !QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        return "its folder could not be created";
    }
    return {};
}

std::string FileHistoryStore::replaceFile(const std::string& bytes) const {
    // QSaveFile writes a temporary file beside the target, flushes it to disk and renames it
    // over the old file, so an interrupted write leaves the old file whole.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        return describe(file);
    }
    // The temporary file would otherwise get 0666 less the umask: make it private before any
    // password is written to it.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return "its permissions could not be set";
    }
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit()) {
        return describe(file);
    }
    syncFolder(QFileInfo(path_).absolutePath());
    return {};
}

} // namespace platform
