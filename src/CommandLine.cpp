#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr int UsageError = 2;

constexpr char Help[] =
    "Usage: tavik [Qt options]\n"
    "Generates random passwords to your rules, copies each to the clipboard, and keeps\n"
    "the ones you save in $XDG_DATA_HOME/tavik/passwords.txt\n"
    "(by default ~/.local/share/tavik/passwords.txt).\n"
    "\n"
    "Options:\n"
    "  -h, --help       show this help and exit\n"
    "  -v, --version    show the version and exit\n"
    "Qt's own options, such as -platform NAME or -style NAME, work as usual.\n"
    "See tavik(1) for the history file, the signals that close the window, and the exit status.\n";

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

// Whether one platform name, as QT_QPA_PLATFORM or -platform give it (with any ":options"),
// has a display to connect to.
bool platformHasDisplay(std::string_view platform) {
    platform = platform.substr(0, platform.find(':'));
    if (platform.starts_with("xcb")) {
        return isSet("DISPLAY");
    }
    if (platform.starts_with("wayland")) {
        return isSet("WAYLAND_DISPLAY") || isSet("WAYLAND_SOCKET");
    }
    return !platform.empty();
}

} // namespace

std::optional<int> handleInformationOptions(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(Help, stdout);
            return EXIT_SUCCESS;
        }
        if (argument == "--version" || argument == "-v") {
            std::printf("tavik %s\n", TAVIK_VERSION);
            return EXIT_SUCCESS;
        }
    }
    return std::nullopt;
}

bool hasDisplay(int argc, char* argv[]) {
    std::string_view platforms;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "-platform" || option == "--platform") {
            platforms = argv[i + 1];
        } else if (option == "-display" || option == "--display") {
            return true; // an X display named on the command line
        }
    }
    if (platforms.empty() && isSet("QT_QPA_PLATFORM")) {
        platforms = std::getenv("QT_QPA_PLATFORM");
    }
    if (platforms.empty()) {
        return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("WAYLAND_SOCKET");
    }
    // A list such as "wayland;xcb" is tried in order: one that can work is enough.
    while (!platforms.empty()) {
        const std::size_t end = platforms.find(';');
        if (platformHasDisplay(platforms.substr(0, end))) {
            return true;
        }
        platforms = end == std::string_view::npos ? std::string_view() : platforms.substr(end + 1);
    }
    return false;
}

std::optional<int> rejectUnknownArguments(int argc, char* argv[]) {
    if (argc <= 1) {
        return std::nullopt;
    }
    std::fprintf(stderr, "tavik: unknown option '%s'\nTry 'tavik --help' for more information.\n",
                 argv[1]);
    return UsageError;
}
