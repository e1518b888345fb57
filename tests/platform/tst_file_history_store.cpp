#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
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

std::string writeBytes(FileHistoryStore& store, const std::string& bytes) {
    return store.update([&](const platform::StoredHistory&) { return replaceWith(bytes); });
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
        qputenv("XDG_DATA_HOME", "/some/where");
        QCOMPARE(FileHistoryStore::defaultPath(),
                 QStringLiteral("/some/where/tavik/passwords.txt"));
        // A relative value is ignored, as is an empty one.
        qputenv("HOME", "/home/someone");
        for (const char* ignored : {"some/where", ""}) {
            qputenv("XDG_DATA_HOME", ignored);
            QCOMPARE(FileHistoryStore::defaultPath(),
                     QStringLiteral("/home/someone/.local/share/tavik/passwords.txt"));
        }
        // Without HOME, the home folder the user database gives.
        qunsetenv("HOME");
        const QString home = QFile::decodeName(::getpwuid(::getuid())->pw_dir);
        QCOMPARE(FileHistoryStore::defaultPath(),
                 QDir::cleanPath(home + QStringLiteral("/.local/share/tavik/passwords.txt")));
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
        QVERIFY(file.resize(100 * 1024 * 1024)); // sparse: costs no disk
        file.close();
        FileHistoryStore store(path());
        QCOMPARE(store.read().state, State::Unreadable);
    }

    void aFailedWriteLeavesThePreviousFileWhole() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"old\"\r\n"), std::string());

        // A file size limit makes the write fail as a full disk would, even for root. The lock
        // file stays empty, so it is the data write that fails: a short file must not replace
        // the old one.
        struct rlimit oldLimit {};
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = oldLimit;
        tiny.rlim_cur = 4;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        const std::string problem = writeBytes(store, "\"new and longer\"\r\n");
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(problem, std::string("File too large"));
        QCOMPARE(contentsOf(path()), QByteArray("\"old\"\r\n"));
        // No temporary file is left behind.
        QCOMPARE(
            QDir(folder()).entryList(QDir::Files),
            (QStringList{QStringLiteral("passwords.txt"), QStringLiteral("passwords.txt.lock")}));
    }

    void theRewriteSeesTheFileAsItIsNowAndMayDecline() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        std::string seen;
        const std::string problem = store.update([&](const platform::StoredHistory& now) {
            seen = now.bytes;
            return std::optional<std::string>();
        });
        QCOMPARE(problem, std::string());
        QCOMPARE(seen, std::string("\"a\"\r\n"));
        QCOMPARE(contentsOf(path()), QByteArray("\"a\"\r\n"));
    }

    void aLockHeldElsewhereIsWaitedForThenReported() {
        QVERIFY(QDir().mkpath(folder()));
        const QByteArray lockName = QFile::encodeName(path() + QStringLiteral(".lock"));
        const int otherCopy = ::open(lockName.constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(::flock(otherCopy, LOCK_EX) == 0);
        FileHistoryStore store(path(), 200);
        QCOMPARE(writeBytes(store, "\"x\"\r\n"),
                 std::string("another copy of Tavik kept it locked"));
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
