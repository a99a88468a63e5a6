#include "common/display.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <xcb/xcb.h>

namespace common {

namespace {

// Whether the server still answers on |connection| after taking it. A connection taken while the
// server was about to reset (its last client had just gone) is set up and then dropped with
// every other one by the reset; a round trip finds that out. The request may then be written to
// a closed socket, so SIGPIPE is ignored while it is: no window program relies on it.
bool answers(xcb_connection_t* connection)
{
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    xcb_generic_error_t* error = nullptr;
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), &error);
    const bool answered = reply != nullptr && xcb_connection_has_error(connection) == 0;
    std::free(reply);
    std::free(error);
    sigaction(SIGPIPE, &before, nullptr);
    return answered;
}

} // namespace

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
        if (xcb_connection_has_error(connection_) == 0 && answers(connection_)) {
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
