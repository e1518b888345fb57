#pragma once

#include "platform/HistoryStore.h"

#include <QString>

namespace platform {

// The history file on the local disk: readable and writable by its owner only, in a folder only
// its owner may open, replaced atomically, and locked against other copies of the program while
// it is rewritten. Every step of a write is checked; a file-size limit makes a write fail
// (EFBIG) instead of killing the program.
class FileHistoryStore final : public HistoryStore {
public:
    struct Location {
        QString path;
        std::string problem; // why there is no usable location; `path` is then empty
    };

    // The per-user location: $XDG_DATA_HOME/tavik/passwords.txt, by default
    // ~/.local/share/tavik/passwords.txt. None when the user has no home folder, or when its
    // name is not valid UTF-8.
    static Location defaultLocation();

    explicit FileHistoryStore(Location location);
    explicit FileHistoryStore(const QString& path)
        : FileHistoryStore(Location{path, {}}) {}

    std::string location() const override;
    StoredHistory read() override;
    Outcome update(const Rewrite& rewrite, std::chrono::milliseconds lockWait) override;

private:
    Location location_;
};

} // namespace platform
