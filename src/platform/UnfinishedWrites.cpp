#include "platform/UnfinishedWrites.h"

#include "platform/Descriptor.h"
#include "platform/ReadAtMost.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

// No editor or other program makes a name of this form by chance.
constexpr std::string_view Mark = ".tavik-unfinished-";
constexpr std::size_t RandomPartLength = 6; // mkostemp's XXXXXX
constexpr std::size_t MostAtOnce = 8;

bool hasOurForm(std::string_view name, const std::string& file) {
    return name.size() == file.size() + Mark.size() + RandomPartLength && name.starts_with(file) &&
           name.substr(file.size()).starts_with(Mark) &&
           std::all_of(name.end() - RandomPartLength, name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Whom the program's own new file beside `file` belongs to: as root, the history's owner (or its
// folder's, before there is a history), to whom it gives what it makes; else the user.
uid_t ownerOfOurFiles(const RealFile& file) {
    struct stat model {};
    if (::geteuid() == 0 &&
        (::stat(file.path().c_str(), &model) == 0 || ::stat(file.folder.c_str(), &model) == 0)) {
        return model.st_uid;
    }
    return ::geteuid();
}

bool isOurs(const struct stat& status, uid_t owner) {
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == owner;
}

} // namespace

std::string unfinishedWriteTemplate(const RealFile& file) {
    return file.path() + std::string(Mark) + std::string(RandomPartLength, 'X');
}

std::vector<UnfinishedWrite> findUnfinishedWrites(const RealFile& file, std::size_t largest) {
    DIR* folder = ::opendir(file.folder.c_str());
    if (!folder) {
        return {}; // the write that follows will say what is wrong with the folder
    }
    const uid_t owner = ownerOfOurFiles(file);
    std::vector<std::pair<struct timespec, UnfinishedWrite>> found;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat status {};
        // Looked at before it is opened: opening a device node could already act on it.
        if (found.size() == MostAtOnce || !hasOurForm(entry->d_name, file.name) ||
            ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !isOurs(status, owner)) {
            continue;
        }
        const Descriptor fd(::openat(::dirfd(folder), entry->d_name,
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() >= 0 && ::fstat(fd.get(), &status) == 0 && isOurs(status, owner)) {
            UnfinishedWrite write{entry->d_name, {}};
            readAtMost(fd.get(), largest, write.bytes); // what could be read: its records count
            found.push_back({status.st_mtim, std::move(write)});
        }
    }
    ::closedir(folder);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::pair(a.first.tv_sec, a.first.tv_nsec) <
               std::pair(b.first.tv_sec, b.first.tv_nsec);
    });
    std::vector<UnfinishedWrite> writes;
    for (auto& [time, write] : found) {
        writes.push_back(std::move(write));
    }
    return writes;
}

void removeUnfinishedWrites(const RealFile& file, const std::vector<UnfinishedWrite>& writes) {
    for (const UnfinishedWrite& write : writes) {
        ::unlink((file.folder + "/" + write.name).c_str());
    }
}

} // namespace platform
