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
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        problem_ = QStringLiteral("no display to show a window on (DISPLAY is not set)");
        return;
    }
    using std::chrono::milliseconds;
    const milliseconds longestPause(640);
    const milliseconds mostWaited(5000);
    milliseconds pause(20);
    for (milliseconds waited(0);; waited += pause, pause = std::min(pause * 2, longestPause)) {
        connection_ = xcb_connect(display.constData(), nullptr);
        if (xcb_connection_has_error(connection_) == 0) {
            return;
        }
        release();
        if (waited >= mostWaited) {
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
