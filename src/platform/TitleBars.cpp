#include "platform/TitleBars.h"

#include <QGuiApplication>

#include <wayland-client.h>

#include <cstring>
#include <memory>

namespace platform {

namespace {

// Whether the compositor offers to draw title bars (the xdg-decoration protocol), which Qt then
// asks it to do. Qt 6.4 gives no public access to its own connection, hence one of our own for a
// single round trip. A socket handed over by the parent (WAYLAND_SOCKET) can be used only once,
// by Qt: then we do not ask, and say the compositor draws them, which changes nothing.
bool compositorDrawsTitleBars() {
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET")) {
        return true;
    }
    const std::unique_ptr<wl_display, void (*)(wl_display*)> display(wl_display_connect(nullptr),
                                                                     wl_display_disconnect);
    if (!display) {
        return true;
    }
    bool offered = false;
    static const wl_registry_listener listener = {
        [](void* offeredFlag, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) {
                *static_cast<bool*>(offeredFlag) = true;
            }
        },
        [](void*, wl_registry*, uint32_t) {
        }};
    wl_registry* registry = wl_display_get_registry(display.get());
    wl_registry_add_listener(registry, &listener, &offered);
    const bool answered = wl_display_roundtrip(display.get()) >= 0;
    wl_registry_destroy(registry);
    return offered || !answered;
}

} // namespace

bool qtWouldDrawTitleBars() {
    return QGuiApplication::platformName() == QLatin1String("wayland") &&
           qEnvironmentVariableIntValue("QT_WAYLAND_DISABLE_WINDOWDECORATION") == 0 &&
           !compositorDrawsTitleBars();
}

} // namespace platform
