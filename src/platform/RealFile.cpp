#include "platform/RealFile.h"

#include "platform/SystemCall.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Links followed before giving up, as the kernel does.
constexpr int MostLinks = 40;

std::string keepParentsOwner(const std::string& folder) {
    struct stat parent {};
    const Descriptor made(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return made.get() >= 0 && ::stat(folderOf(folder).c_str(), &parent) == 0 &&
                   ownedLike(made.get(), parent)
               ? std::string()
               : because("the owner of the new folder " + folder + " could not be set");
}

// Makes `folder` with `mode`, and the folders above it that are missing, the way `mkdir -p`
// does. A folder that is there already (one that another copy made a moment ago, say) is
// success; a link on the way must lead to a folder that is there, for nothing is made in the
// place of a missing one.
std::string makeFolder(const std::string& folder, mode_t mode) {
    int made = ::mkdir(folder.c_str(), mode);
    if (made != 0 && errno == ENOENT && folderOf(folder) != folder) {
        // The folders above ours get the usual permissions.
        if (std::string problem = makeFolder(folderOf(folder), 0777); !problem.empty()) {
            return problem;
        }
        made = ::mkdir(folder.c_str(), mode);
    }
    if (made == 0) {
        return keepParentsOwner(folder);
    }
    if (errno != EEXIST) {
        return because("the folder " + folder + " could not be made");
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        return because("the link " + folder + " leads nowhere");
    }
    return S_ISDIR(status.st_mode) ? std::string() : folder + " is not a folder";
}

// Our own folder holds passwords, so only its owner may even list it: made so, and closed again
// when it was left open to others (by hand, or by an old umask). A link in its place leads to
// a folder that is not ours to change.
std::string makePrivateFolder(const std::string& folder) {
    if (std::string problem = makeFolder(folder, S_IRWXU); !problem.empty()) {
        return problem;
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == ::getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 &&
        ::chmod(folder.c_str(), S_IRWXU) != 0) {
        return because("its folder could not be made private");
    }
    return {};
}

RealFile followLinks(std::string file) {
    for (int links = 0;; ++links) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(file.c_str(), target, sizeof target);
        if (length < 0 && (errno == EINVAL || errno == ENOENT)) {
            break; // not a link, or no file yet
        }
        if (length < 0 || links == MostLinks || std::size_t(length) == sizeof target) {
            return {
                {},
                {},
                because("the link " + file + " could not be followed", length < 0 ? errno : ELOOP)};
        }
        const std::string to(target, std::size_t(length));
        file = to.front() == '/' ? to : folderOf(file) + "/" + to;
    }
    const std::unique_ptr<char, decltype(&std::free)> folder(
        ::realpath(folderOf(file).c_str(), nullptr), &std::free);
    if (!folder) {
        return {{}, {}, because("it is a link into " + folderOf(file) + ", which is not there")};
    }
    return {folder.get(), nameOf(file), {}};
}

} // namespace

RealFile reachRealFile(const std::string& path) {
    if (std::string problem = makePrivateFolder(folderOf(path)); !problem.empty()) {
        return {{}, {}, problem};
    }
    return followLinks(path);
}

} // namespace platform
