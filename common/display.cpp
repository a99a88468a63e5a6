#include "common/display.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <xcb/xcb.h>

namespace common {

DisplayHold::DisplayHold(const QStringList& arguments)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((!platform.isEmpty() && !platform.startsWith("xcb")) ||
        arguments.contains(QStringLiteral("-platform"))) {
        return;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        problem_ = QStringLiteral("no display to show a window on (DISPLAY is not set)");
        return;
    }
    using namespace std::chrono_literals;
    auto pause = 20ms;
    for (auto waited = 0ms;; waited += pause, pause = std::min(pause * 2, 640ms)) {
        connection_ = xcb_connect(display, nullptr);
        if (xcb_connection_has_error(connection_) == 0) {
            return;
        }
        release();
        if (waited >= 5s) {
            problem_ =
                QStringLiteral("cannot connect to the display ") + QString::fromLocal8Bit(display);
            return;
        }
        std::this_thread::sleep_for(pause);
    }
}

void DisplayHold::release()
{
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
}

} // namespace common
