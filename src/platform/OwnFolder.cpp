#include "platform/OwnFolder.h"

#include "platform/Descriptor.h"
#include "platform/PathNames.h"
#include "platform/RootOwnership.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

// Makes `folder` with `mode`, and the folders above it that are missing, as `mkdir -p` does; not
// mkdir -p itself (nor std::filesystem), for a folder made as root must be given to its parent's
// owner through a descriptor of what was made, never by its path, which another could swap.
std::string makeFolders(const std::string& folder, mode_t mode) {
    const std::string above = folderOf(folder);
    Descriptor parent(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0 && errno == ENOENT && above != folder) {
        // The folders above ours get the usual permissions.
        if (std::string problem = makeFolders(above, 0777); !problem.empty()) {
            return problem;
        }
        parent = Descriptor(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    const std::string name = nameOf(folder);
    if (parent.get() < 0) {
        return because("the folder " + above + " could not be opened");
    }
    if (::mkdirat(parent.get(), name.c_str(), mode) == 0) {
        struct stat parentStatus {};
        const Descriptor made(
            ::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        return made.get() >= 0 && ::fstat(parent.get(), &parentStatus) == 0 &&
                       giveToOwnerOf(made.get(), parentStatus)
                   ? std::string()
                   : because("the owner of the new folder " + folder + " could not be set");
    }
    if (errno != EEXIST) {
        return because("the folder " + folder + " could not be made");
    }
    struct stat status {};
    if (::fstatat(parent.get(), name.c_str(), &status, 0) != 0) {
        return because("the link " + folder + " leads nowhere");
    }
    return S_ISDIR(status.st_mode) ? std::string() : folder + " is not a folder";
}

} // namespace

std::string makeOwnFolder(const std::string& folder) {
    if (std::string problem = makeFolders(folder, S_IRWXU); !problem.empty()) {
        return problem;
    }
    // Closed again when it was left open to others (by hand, or by an old umask). O_NOFOLLOW:
    // a link in its place leads to a folder that is not ours.
    const Descriptor own(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (own.get() >= 0 && ::fstat(own.get(), &status) == 0 && status.st_uid == ::getuid() &&
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(own.get(), S_IRWXU) != 0) {
        return because("its folder could not be made private");
    }
    return {};
}

} // namespace platform
