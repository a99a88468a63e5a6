#pragma once

#include "common/httpclient.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <unordered_map>

namespace pelagrin {

// The HTTP client on the window's event loop: a notifier for each socket libcurl watches and
// one timer. Not Qt's own HTTP client: the one of Qt 6.4 reads every byte of a response's header
// with a system call of its own (some 150 for a tile) and hands each body over from a thread of
// its own.
class CurlLoop : public common::http::EventLoop {
public:
    CurlLoop();
    ~CurlLoop() override;
    CurlLoop(const CurlLoop&) = delete;
    CurlLoop& operator=(const CurlLoop&) = delete;

    common::http::Client& client() { return *client_; }

    void watch(curl_socket_t socket, int what) override;
    void startTimer(long ms) override;

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    QSocketNotifier* notifier(curl_socket_t socket, QSocketNotifier::Type type, int events);

    QObject notifiers_; // the parent of every notifier, so none outlives the loop
    std::unordered_map<curl_socket_t, Watch> watches_;
    QTimer timer_;
    // Destroyed first, while the notifiers and the timer are there: closing its kept
    // connections tells watch() of each.
    std::unique_ptr<common::http::Client> client_;
};

} // namespace pelagrin
