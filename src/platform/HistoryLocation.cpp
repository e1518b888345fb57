#include "platform/HistoryLocation.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

bool isAbsolute(const char* path) {
    return path && path[0] == '/';
}

// The data home by the XDG rules: $XDG_DATA_HOME when it is absolute (a relative one is to be
// ignored), else .local/share in the home folder, which is $HOME when that is absolute, else
// the one the user database gives. Empty when there is none.
std::string dataHome() {
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); isAbsolute(dataHome)) {
        return dataHome;
    }
    if (const char* home = std::getenv("HOME"); isAbsolute(home)) {
        return std::string(home) + "/.local/share";
    }
    const struct passwd* user = ::getpwuid(::getuid());
    return user && isAbsolute(user->pw_dir) ? std::string(user->pw_dir) + "/.local/share"
                                            : std::string();
}

} // namespace

// Deliberately not QStandardPaths: Qt 6.4 takes a relative $XDG_DATA_HOME as it is, which puts
// the passwords under whatever folder the program was started in, without $HOME it builds
// "//.local/share", and its Unicode file names cannot hold a folder name that is not UTF-8.
HistoryLocation defaultHistoryLocation() {
    std::string folder = dataHome();
    if (folder.empty()) {
        return {{}, "there is no home folder to keep it in"};
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return {(folder == "/" ? "" : folder) + "/tavik/passwords.txt", {}};
}

} // namespace platform
