#pragma once

#include "platform/HistoryStore.h"

#include <QString>

namespace platform {

// The history file on the local disk: readable and writable by its owner only, in a folder only
// its owner may open, replaced atomically, and locked against other copies of the program while
// it is rewritten.
class FileHistoryStore final : public HistoryStore {
public:
    // The per-user location: $XDG_DATA_HOME/tavik/passwords.txt, by default
    // ~/.local/share/tavik/passwords.txt. Empty when the user has no home folder at all.
    static QString defaultPath();

    explicit FileHistoryStore(QString path, int lockTimeoutMs = 10000);

    std::string location() const override;
    StoredHistory read() override;
    std::string update(const Rewrite& rewrite) override;

private:
    std::string ensurePrivateFolder() const;
    std::string replaceFile(const std::string& bytes) const;

    QString path_;
    int lockTimeoutMs_;
};

} // namespace platform
