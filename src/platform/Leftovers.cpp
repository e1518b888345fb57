#include "platform/Leftovers.h"

#include "platform/ReadAtMost.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

// No editor or other program makes a name of this form by chance.
constexpr std::string_view Mark = ".tavik-unfinished-";
constexpr std::size_t RandomPartLength = 6; // mkostemp's XXXXXX
constexpr std::size_t MostAtOnce = 8;

bool isAlnum(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The number of saves a file of our form carries, or nothing when `name` is not of our form.
std::optional<std::size_t> carriedBy(std::string_view name, const std::string& file) {
    if (!name.starts_with(file) || !name.substr(file.size()).starts_with(Mark) ||
        name.size() < file.size() + Mark.size() + 2 + RandomPartLength) {
        return std::nullopt;
    }
    const std::string_view count = name.substr(
        file.size() + Mark.size(), name.size() - file.size() - Mark.size() - RandomPartLength - 1);
    const std::string_view random = name.substr(name.size() - RandomPartLength);
    std::size_t carried = 0;
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), carried);
    if (error != std::errc() || end != count.data() + count.size() || count.size() > 4 ||
        name[name.size() - RandomPartLength - 1] != '-' ||
        !std::all_of(random.begin(), random.end(), isAlnum)) {
        return std::nullopt;
    }
    return carried;
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

struct Candidate {
    struct timespec age;
    std::string name;
    std::size_t carried;
    FileId id;
};

// The names of our own leftovers in `folder`, oldest first. Looked at, never opened:
// opening a device node could already act on it.
std::vector<Candidate> candidates(DIR* folder, const RealFile& file) {
    const uid_t owner = ownerOfOurFiles(file);
    std::vector<Candidate> found;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat status {};
        const std::optional<std::size_t> carried = carriedBy(entry->d_name, file.name);
        if (carried &&
            ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            isOurs(status, owner)) {
            found.push_back(
                {status.st_mtim, entry->d_name, *carried, {status.st_dev, status.st_ino}});
        }
    }
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return std::pair(a.age.tv_sec, a.age.tv_nsec) < std::pair(b.age.tv_sec, b.age.tv_nsec);
    });
    return found;
}

// Opens and locks one, or nothing when it is no longer ours or a write still holds it.
bool take(DIR* folder, const Candidate& candidate, uid_t owner, std::size_t largest,
          FoundLeftovers& found) {
    // Read-write: on NFS an exclusive flock needs a descriptor open for writing.
    Descriptor fd(::openat(::dirfd(folder), candidate.name.c_str(),
                           O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !isOurs(status, owner) ||
        FileId(status.st_dev, status.st_ino) != candidate.id ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    Leftover leftover{candidate.name, {}, candidate.carried, {}};
    if (std::size_t(status.st_size) > largest) {
        leftover.problem = HistoryStore::TooLarge;
    } else if (const int error = readAtMost(fd.get(), largest + 1, leftover.bytes)) {
        leftover.problem = systemReason(error);
    } else if (leftover.bytes.size() > largest) {
        leftover.problem = HistoryStore::TooLarge;
    }
    found.held.push_back({candidate.name, candidate.id, std::move(fd)});
    found.leftovers.push_back(std::move(leftover));
    return true;
}

} // namespace

std::string leftoverTemplate(const RealFile& file, std::size_t carried) {
    return file.path() + std::string(Mark) + std::to_string(carried) + "-" +
           std::string(RandomPartLength, 'X');
}

bool anyLeftovers(const RealFile& file) {
    DIR* folder = ::opendir(file.folder.c_str());
    if (!folder) {
        return false;
    }
    const bool any = !candidates(folder, file).empty();
    ::closedir(folder);
    return any;
}

FoundLeftovers findLeftovers(const RealFile& file, std::size_t largest,
                             const std::set<FileId>& skip) {
    DIR* folder = ::opendir(file.folder.c_str());
    if (!folder) {
        return {}; // the write that follows will say what is wrong with the folder
    }
    const uid_t owner = ownerOfOurFiles(file);
    FoundLeftovers found;
    for (const Candidate& candidate : candidates(folder, file)) {
        if (found.held.size() == MostAtOnce) {
            found.more = true;
            break;
        }
        // Passed over before it is opened: on NFS, closing any descriptor of a file lets go of
        // the locks that this process holds on it.
        if (!skip.contains(candidate.id)) {
            take(folder, candidate, owner, largest, found);
        }
    }
    ::closedir(folder);
    return found;
}

std::vector<HeldLeftover> removeLeftovers(const RealFile& file, std::vector<HeldLeftover> held) {
    std::vector<HeldLeftover> kept;
    for (HeldLeftover& leftover : held) {
        if (::unlink((file.folder + "/" + leftover.name).c_str()) != 0 && errno != ENOENT) {
            kept.push_back(std::move(leftover));
        }
    }
    return kept;
}

} // namespace platform
