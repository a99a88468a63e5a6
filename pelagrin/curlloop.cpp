#include "pelagrin/curlloop.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

namespace pelagrin {

CurlLoop::CurlLoop(Ended ended) : ended_(std::move(ended))
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised; // a failure shows as curl_multi_init's
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlLoop::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlLoop::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlLoop::~CurlLoop()
{
    // Closing the kept connections tells onSocket() of each: the notifiers are still there.
    curl_multi_cleanup(multi_);
}

int CurlLoop::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    static_cast<CurlLoop*>(self)->watch(socket, what);
    return 0;
}

int CurlLoop::onTimer(CURLM*, long timeoutMs, void* self)
{
    QTimer& timer = static_cast<CurlLoop*>(self)->timer_;
    if (timeoutMs < 0) {
        timer.stop();
    } else {
        timer.start(static_cast<int>(std::min(timeoutMs, long{INT_MAX})));
    }
    return 0;
}

void CurlLoop::watch(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        if (const auto it = watches_.find(socket); it != watches_.end()) {
            // This may run inside one of the notifiers' own signals.
            for (QSocketNotifier* notifier : {it->second.read, it->second.write}) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            watches_.erase(it);
        }
        return;
    }
    Watch& watch = watches_[socket];
    if (watch.read == nullptr) {
        watch.read = notifier(socket, QSocketNotifier::Read, CURL_CSELECT_IN);
        watch.write = notifier(socket, QSocketNotifier::Write, CURL_CSELECT_OUT);
    }
    watch.read->setEnabled((what & CURL_POLL_IN) != 0);
    watch.write->setEnabled((what & CURL_POLL_OUT) != 0);
}

QSocketNotifier* CurlLoop::notifier(curl_socket_t socket, QSocketNotifier::Type type, int events)
{
    auto* notifier = new QSocketNotifier(socket, type, &notifiers_);
    QObject::connect(notifier, &QSocketNotifier::activated,
                     [this, socket, events] { act(socket, events); });
    return notifier;
}

void CurlLoop::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(multi_, socket, events, &running);
    std::vector<std::pair<CURL*, CURLcode>> ended;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) {
            ended.emplace_back(message->easy_handle, message->data.result);
        }
    }
    for (const auto& [easy, code] : ended) {
        ended_(easy, code);
    }
}

} // namespace pelagrin
