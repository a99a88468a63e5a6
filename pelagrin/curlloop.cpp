#include "pelagrin/curlloop.h"

#include <algorithm>
#include <climits>

namespace pelagrin {

CurlLoop::CurlLoop() : client_(std::make_unique<common::http::Client>(*this))
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { client_->act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlLoop::~CurlLoop()
{
    client_.reset();
}

void CurlLoop::startTimer(long ms)
{
    if (ms < 0) {
        timer_.stop();
    } else {
        timer_.start(static_cast<int>(std::min(ms, long{INT_MAX})));
    }
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
                     [this, socket, events] { client_->act(socket, events); });
    return notifier;
}

} // namespace pelagrin
