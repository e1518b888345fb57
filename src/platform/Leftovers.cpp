#include "platform/Leftovers.h"

#include "platform/ReadAtMost.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

// No editor or other program makes a name of these forms by chance.
constexpr std::string_view Mark = ".tavik-unfinished-";
constexpr std::string_view TakenMark = ".tavik-taken-";
constexpr std::size_t RandomPartLength = 6; // mkostemp's XXXXXX
constexpr std::size_t MostAtOnce = 8;

using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

bool isRandomPart(std::string_view part) {
    return part.size() == RandomPartLength && std::all_of(part.begin(), part.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

// The count of a write's own "N-XXXXXX", or nothing when `own` is not of that form.
std::optional<std::size_t> carriedBy(std::string_view own) {
    const std::size_t dash = own.find('-');
    std::size_t carried = 0;
    if (dash == std::string_view::npos || dash == 0 || dash > 4 ||
        !isRandomPart(own.substr(dash + 1)) ||
        std::from_chars(own.data(), own.data() + dash, carried).ptr != own.data() + dash) {
        return std::nullopt;
    }
    return carried;
}

// What a name beside the history says of the file, when it is of one of the program's forms.
struct NameOf {
    std::string own;     // "N-XXXXXX"; for an earlier build's form, only "XXXXXX"
    std::string takenBy; // the "M-YYYYYY" of the new file that took it in, if one did
    std::size_t carried = 0;
    bool earlierForm = false;
};

std::optional<NameOf> nameOf(std::string_view name, const std::string& file) {
    if (!name.starts_with(file)) {
        return std::nullopt;
    }
    const std::string_view rest = name.substr(file.size());
    if (rest.starts_with(Mark)) {
        const std::string_view own = rest.substr(Mark.size());
        if (const std::optional<std::size_t> carried = carriedBy(own)) {
            return NameOf{std::string(own), {}, *carried, false};
        }
        if (isRandomPart(own)) {
            return NameOf{std::string(own), {}, 0, true};
        }
    } else if (rest.starts_with(TakenMark)) {
        const std::string_view both = rest.substr(TakenMark.size());
        const std::size_t split = both.find('-', both.find('-') + 1);
        if (split == std::string_view::npos || !carriedBy(both.substr(0, split))) {
            return std::nullopt;
        }
        if (const std::optional<std::size_t> carried = carriedBy(both.substr(split + 1))) {
            return NameOf{std::string(both.substr(split + 1)), std::string(both.substr(0, split)),
                          *carried, false};
        }
    }
    return std::nullopt;
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
    NameOf of;
    FileId id;
    off_t size;
    // Taken in by a new file that is gone, so in the history: it describes nothing any more.
    bool spent = false;
};

// The program's own leftovers in `folder`, oldest first. Looked at, never opened: opening a
// device node could already act on it.
std::vector<Candidate> candidates(DIR* folder, const RealFile& file) {
    const uid_t owner = ownerOfOurFiles(file);
    std::vector<Candidate> found;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat status {};
        if (std::optional<NameOf> of = nameOf(entry->d_name, file.name);
            of && ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            isOurs(status, owner)) {
            struct stat taker {};
            const bool spent =
                !of->takenBy.empty() &&
                ::fstatat(::dirfd(folder), (file.name + std::string(Mark) + of->takenBy).c_str(),
                          &taker, AT_SYMLINK_NOFOLLOW) != 0 &&
                errno == ENOENT;
            found.push_back({status.st_mtim,
                             entry->d_name,
                             std::move(*of),
                             {status.st_dev, status.st_ino},
                             status.st_size,
                             spent});
        }
    }
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return std::pair(a.age.tv_sec, a.age.tv_nsec) < std::pair(b.age.tv_sec, b.age.tv_nsec);
    });
    return found;
}

std::string inFolder(const RealFile& file, const std::string& name) {
    return file.folder + "/" + name;
}

// Opens and locks one. Nothing when it is gone, no longer ours, or a live write holds it.
std::optional<Descriptor> openAndLock(DIR* folder, const Candidate& candidate, uid_t owner,
                                      int& openError) {
    // Read-write: on NFS an exclusive flock needs a descriptor open for writing.
    Descriptor fd(::openat(::dirfd(folder), candidate.name.c_str(),
                           O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    openError = fd.get() < 0 ? errno : 0;
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !isOurs(status, owner) ||
        FileId(status.st_dev, status.st_ino) != candidate.id ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return std::nullopt;
    }
    return fd;
}

// Takes one in: locked and read, or with the problem that keeps it from being given back.
void take(DIR* folder, const RealFile& file, Candidate& candidate, uid_t owner, std::size_t largest,
          FoundLeftovers& found) {
    int openError = 0;
    std::optional<Descriptor> fd = openAndLock(folder, candidate, owner, openError);
    if (!fd && (openError == 0 || openError == ENOENT)) {
        return; // a live write holds it, or it has just gone
    }
    if (candidate.spent || candidate.size == 0) {
        ::unlinkat(::dirfd(folder), candidate.name.c_str(), 0); // it carries nothing
        return;
    }
    Leftover leftover{candidate.name, {}, candidate.of.carried, {}, inFolder(file, candidate.name)};
    if (!fd) {
        leftover.problem = "it cannot be opened (" + systemReason(openError) +
                           "): make it readable and writable to you, or remove it";
    } else if (const int error = readAtMost(fd->get(), largest + 1, leftover.bytes)) {
        leftover.problem = "it could not be read (" + systemReason(error) + "): remove it";
    } else if (leftover.bytes.size() > largest) {
        leftover.problem = std::string(HistoryStore::TooLarge) + ": remove it";
    } else if (candidate.of.earlierForm) {
        leftover.problem = "it was left by an earlier version of Tavik, which did not record which "
                           "of its passwords were saves: copy what you need into the history, "
                           "then remove it";
    }
    found.held.push_back(
        {candidate.name, candidate.of.own, candidate.id, fd ? std::move(*fd) : Descriptor()});
    found.leftovers.push_back(std::move(leftover));
}

} // namespace

std::string leftoverTemplate(const RealFile& file, std::size_t carried) {
    return file.path() + std::string(Mark) + std::to_string(carried) + "-" +
           std::string(RandomPartLength, 'X');
}

std::string ownPart(const std::string& name) {
    return name.substr(name.rfind(Mark) + Mark.size());
}

bool anyLeftovers(const RealFile& file) {
    const Folder folder(::opendir(file.folder.c_str()), &::closedir);
    if (!folder) {
        return false;
    }
    const uid_t owner = ownerOfOurFiles(file);
    for (const Candidate& candidate : candidates(folder.get(), file)) {
        int openError = 0;
        if (!candidate.spent && (openAndLock(folder.get(), candidate, owner, openError) ||
                                 (openError != 0 && openError != ENOENT))) {
            return true;
        }
    }
    return false;
}

FoundLeftovers findLeftovers(const RealFile& file, std::size_t largest,
                             const std::set<FileId>& skip) {
    const Folder folder(::opendir(file.folder.c_str()), &::closedir);
    if (!folder) {
        return {}; // the write that follows will say what is wrong with the folder
    }
    const uid_t owner = ownerOfOurFiles(file);
    FoundLeftovers found;
    for (Candidate& candidate : candidates(folder.get(), file)) {
        if (found.held.size() == MostAtOnce) {
            found.more = true;
            break;
        }
        // Passed over before it is opened: on NFS, closing any descriptor of a file lets go of
        // the locks that this process holds on it.
        if (!skip.contains(candidate.id)) {
            take(folder.get(), file, candidate, owner, largest, found);
        }
    }
    return found;
}

std::string markTaken(const RealFile& file, std::vector<HeldLeftover>& held,
                      const std::string& newFile) {
    const std::string takenBy = ownPart(newFile);
    for (HeldLeftover& leftover : held) {
        const std::string taken = file.name + std::string(TakenMark) + takenBy + "-" + leftover.own;
        if (::rename(inFolder(file, leftover.name).c_str(), inFolder(file, taken).c_str()) == 0) {
            leftover.name = taken;
        } else if (errno != ENOENT) { // removed by someone else: it describes nothing any more
            const std::string problem = because("a file it gives back could not be renamed");
            unmarkTaken(file, held);
            return problem;
        }
    }
    return {};
}

bool unmarkTaken(const RealFile& file, std::vector<HeldLeftover>& held) {
    bool all = true;
    for (HeldLeftover& leftover : held) {
        const std::string name = file.name + std::string(Mark) + leftover.own;
        if (leftover.name != name) {
            if (::rename(inFolder(file, leftover.name).c_str(), inFolder(file, name).c_str()) ==
                0) {
                leftover.name = name;
            } else {
                all = false;
            }
        }
    }
    return all;
}

void removeLeftovers(const RealFile& file, std::vector<HeldLeftover>& held) {
    for (const HeldLeftover& leftover : held) {
        ::unlink(inFolder(file, leftover.name).c_str());
    }
    held.clear();
}

} // namespace platform
