#pragma once

// The display a window program is about to open its windows on.
#include <QString>
#include <QStringList>

#include <optional>

struct xcb_connection_t;

namespace common {

// A connection to the X display that Qt will connect to, made before Qt's own and held until
// Qt has made it. An X server with no client left resets itself and drops the connections that
// arrive meanwhile (an X server of its own for each session, a virtual one, does so between two
// programs), and Qt ends the program with an abort when its first connection fails: the
// connection is tried again for about five seconds, and once made (and answered: a connection
// taken just before a reset is set up and then dropped by it) the server has a client and does
// not reset. Nothing is done where Qt will use another platform (QT_QPA_PLATFORM, or Qt's
// -platform among |arguments|).
class DisplayHold {
public:
    explicit DisplayHold(const QStringList& arguments);
    ~DisplayHold() { release(); }
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;

    // Why no window can be shown, for the program to say before it ends; nothing when the
    // display answered.
    const std::optional<QString>& problem() const { return problem_; }
    // Lets the connection go, once Qt has its own.
    void release();

private:
    xcb_connection_t* connection_ = nullptr;
    std::optional<QString> problem_;
};

} // namespace common
