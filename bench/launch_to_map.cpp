// Starts a program and prints the milliseconds from its launch to the moment the X server maps
// its first top-level window (watched as a MapNotify event on the root window, not polled), then
// the program's peak resident memory in MiB, measured after it has run for a further settle time.
//
//     launch_to_map SETTLE_MS PROGRAM [ARGS...]
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "launch_to_map: %s\n", what);
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        fail("usage: launch_to_map SETTLE_MS PROGRAM [ARGS...]");
    }
    const int settleMs = std::atoi(argv[1]);

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        fail("cannot connect to the X server");
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    // Checked, so that the server has the mask before the program starts.
    if (xcb_request_check(connection, xcb_change_window_attributes_checked(
                                          connection, root, XCB_CW_EVENT_MASK, &mask))) {
        fail("cannot watch the root window");
    }

    const auto launched = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }

    pollfd watched{xcb_get_file_descriptor(connection), POLLIN, 0};
    double mappedMs = -1;
    while (mappedMs < 0) {
        xcb_generic_event_t* event = xcb_poll_for_event(connection);
        if (!event) {
            if (poll(&watched, 1, 10000) <= 0) {
                kill(child, SIGKILL);
                fail("no window was mapped within 10 s");
            }
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            mappedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                 launched)
                           .count();
        }
        std::free(event);
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    kill(child, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("%.2f %.1f\n", mappedMs, usage.ru_maxrss / 1024.0);
    xcb_disconnect(connection);
    return 0;
}
