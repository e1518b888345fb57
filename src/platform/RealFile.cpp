#include "platform/RealFile.h"

#include "platform/PathNames.h"
#include "platform/SystemError.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace platform {

namespace {

// Links followed before giving up, as the kernel does.
constexpr int MostLinks = 40;

} // namespace

// Not realpath() on the whole path: the file may not exist yet, and a link at its place may lead
// to a file that does not exist yet either. The links to the file are followed one by one, then
// realpath() resolves its folder, which must exist.
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

} // namespace platform
