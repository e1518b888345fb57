#include "platform/FileHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

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

    void theDefaultLocationFollowsXdgDataHome() {
        qputenv("XDG_DATA_HOME", "/some/where");
        QCOMPARE(FileHistoryStore::defaultPath(),
                 QStringLiteral("/some/where/tavik/passwords.txt"));
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

    void anExistingFileOpenToOthersIsMadePrivate() {
        FileHistoryStore store(path());
        QCOMPARE(writeBytes(store, "\"a\"\r\n"), std::string());
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        QCOMPARE(writeBytes(store, "\"b\"\r\n"), std::string());
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(contentsOf(path()), QByteArray("\"b\"\r\n"));
    }

    void aFolderInThePlaceOfTheFileIsUnreadable() {
        QVERIFY(QDir().mkpath(path()));
        FileHistoryStore store(path());
        const platform::StoredHistory stored = store.read();
        QCOMPARE(stored.state, State::Unreadable);
        QVERIFY(!stored.problem.empty());
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

        // A file size limit makes the write fail as a full disk would, even for root.
        struct rlimit oldLimit {};
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = oldLimit;
        tiny.rlim_cur = 4;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        const std::string problem = writeBytes(store, "\"new and longer\"\r\n");
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!problem.empty());
        QCOMPARE(contentsOf(path()), QByteArray("\"old\"\r\n"));
        // No temporary file is left behind.
        QCOMPARE(QDir(folder()).entryList(QDir::Files),
                 QStringList{QStringLiteral("passwords.txt")});
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
        QLockFile otherCopy(path() + QStringLiteral(".lock"));
        QVERIFY(otherCopy.tryLock(0));
        FileHistoryStore store(path(), 200);
        QVERIFY(!writeBytes(store, "\"x\"\r\n").empty());
        QVERIFY(!QFile::exists(path()));
        otherCopy.unlock();
        QCOMPARE(writeBytes(store, "\"x\"\r\n"), std::string());
    }
};

QTEST_GUILESS_MAIN(FileHistoryStoreTest)
#include "tst_file_history_store.moc"
