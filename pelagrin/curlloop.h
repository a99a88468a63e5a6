#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>
#include <functional>
#include <unordered_map>

namespace pelagrin {

// libcurl's multi interface on the Qt event loop: a notifier for each socket libcurl watches and
// one timer for its time-outs. Transfers end, and are told so through |ended|, only from here,
// never from inside a libcurl call. Not Qt's own HTTP client: the one of Qt 6.4 reads every byte
// of a response's header with a system call of its own (some 150 for a tile) and hands each body
// over from a thread of its own.
class CurlLoop {
public:
    using Ended = std::function<void(CURL* easy, CURLcode code)>;

    explicit CurlLoop(Ended ended);
    ~CurlLoop();
    CurlLoop(const CurlLoop&) = delete;
    CurlLoop& operator=(const CurlLoop&) = delete;

    bool add(CURL* easy) { return curl_multi_add_handle(multi_, easy) == CURLM_OK; }
    void remove(CURL* easy) { curl_multi_remove_handle(multi_, easy); }

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*);
    static int onTimer(CURLM*, long timeoutMs, void* self);
    void watch(curl_socket_t socket, int what);
    QSocketNotifier* notifier(curl_socket_t socket, QSocketNotifier::Type type, int events);
    void act(curl_socket_t socket, int events);

    Ended ended_;
    QObject notifiers_; // the parent of every notifier, so none outlives the loop
    std::unordered_map<curl_socket_t, Watch> watches_;
    QTimer timer_;
    CURLM* multi_ = nullptr; // cleaned up first, while the notifiers and the timer are there
};

} // namespace pelagrin
