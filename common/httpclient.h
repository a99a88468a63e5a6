#pragma once

// The suite's one HTTP client: libcurl's multi interface, driven by the event loop of the
// program that uses it (Qt's in Pelagrin, asio's in the map service). The rules every request
// follows live here: HTTP and HTTPS only, redirects followed on the same host only (from HTTP to
// HTTPS, never back, never to an address with a user or password) and at most maxRedirects
// times, the request's header lines sent on only while a redirect keeps its host and port, a cap
// on the body, a deadline, and a low-rate limit that ends a body trickling in.
#include "common/result.h"

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace common::http {

using Clock = std::chrono::steady_clock;

// What the program's event loop does for the client; everything runs on the loop's thread.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Watches |socket| for CURL_POLL_IN, CURL_POLL_OUT or CURL_POLL_INOUT and calls
    // Client::act(socket, CURL_CSELECT_IN / CURL_CSELECT_OUT) when it is ready;
    // CURL_POLL_REMOVE stops watching. The socket is never closed by the loop.
    virtual void watch(curl_socket_t socket, int what) = 0;
    // Calls Client::act(CURL_SOCKET_TIMEOUT, 0) once after |ms| milliseconds, replacing the
    // earlier wish; a negative |ms| cancels it.
    virtual void startTimer(long ms) = 0;
};

struct Request {
    std::string url; // http: or https:
    std::string userAgent;
    std::int64_t maxBodyBytes = std::int64_t{64} << 20; // past it: Failure::TooLarge
    // Fewer than minBytesPerWindow bytes (headers and body) within the latest window: the
    // transfer ends as timed out. Zero: no such limit.
    std::chrono::milliseconds lowRateWindow{0};
    // When the transfer must have ended, waiting for a connection included.
    Clock::time_point deadline = Clock::time_point::max();
    bool decodeContent = false;       // asks for gzip and deflate; the cap counts decoded bytes
    bool noProxy = false;             // never through a proxy named in the environment
    long receiveBufferBytes = 0;      // 0: libcurl's own
    std::vector<std::string> keep;    // answer headers whose values Ended::headers holds
    std::vector<std::string> headers; // "Name: value" lines sent with the request
};

constexpr std::int64_t minBytesPerWindow = 1024;

enum class Failure {
    None,                 // the whole answer came (any status)
    Refused,              // no connection could be made
    NoHost,               // the host name is not known
    CutShort,             // the connection ended within the answer
    TimedOut,             // past the deadline, or too little within the low-rate window
    TooLarge,             // the body passed Request::maxBodyBytes
    Stopped,              // the body's consumer refused it; it knows why
    RedirectElsewhere,    // a redirect to another host or scheme, not followed
    TooManyRedirects,     // more than maxRedirects
    RedirectWithoutPlace, // a redirect status without a Location
    HeaderTooLarge,       // a header past libcurl's limit
    Other,                // anything else libcurl reports; see Ended::message
};

// How a transfer ended.
struct Ended {
    Failure failure = Failure::None;
    long status = 0;         // the HTTP status; 0 when none came
    std::string reason;      // the reason phrase of the status line
    std::string contentType; // as the answer named it
    std::int64_t bodyBytes = 0;
    std::int64_t announcedBytes = -1;           // Content-Length, -1 when none
    std::string message;                        // libcurl's words for Failure::Other
    std::string elsewhere;                      // where a redirect not followed pointed
    std::map<std::string, std::string> headers; // those of Request::keep that came

    bool ok() const { return failure == Failure::None && status >= 200 && status <= 299; }
    // Whether the answer ended as announced: its whole body came.
    bool complete() const { return announcedBytes < 0 || announcedBytes == bodyBytes; }
};

// What libcurl's |code| for the end of a transfer means.
Failure failureOf(CURLcode code);

// The suite's reading of an ending that is not ok(): a 4xx status, a body too large and a
// redirect not followed fail for good; no answer in time is timed out; the rest passing.
ErrorKind kindOf(const Ended& ended);

struct Handlers {
    // A piece of the body of an answer with |status| (of a 2xx answer or of an error page, not
    // of a redirect); false stops the transfer (Failure::Stopped). It must not destroy the
    // Transfer.
    std::function<bool(long status, const char* data, std::size_t size)> body;
    // A redirect is being followed: what body came so far is void.
    std::function<void()> restart;
    // Once, outside any libcurl call; the Transfer may be destroyed from here.
    std::function<void(const Ended&)> ended;
};

class Client;

// One request in flight. Destroying it cancels the request, from any of its handlers too; no
// handler is called afterwards.
class Transfer {
public:
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    struct Core;

private:
    friend class Client;
    explicit Transfer(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    std::shared_ptr<Core> core_;
};

// One multi handle: its connections are kept and reused from one request to the next.
class Client {
public:
    explicit Client(EventLoop& loop);
    ~Client(); // cancels what is in flight; no handler is called
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Starts |request|; a bad-input error when its URL is no HTTP or HTTPS URL.
    Result<std::unique_ptr<Transfer>> start(Request request, Handlers handlers);

    // What the event loop calls: a watched socket is ready, or the timer has fired.
    void act(curl_socket_t socket, int events);

private:
    friend class Transfer;
    using CorePtr = std::shared_ptr<Transfer::Core>;

    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*);
    static int onTimer(CURLM*, long timeoutMs, void* self);
    void finished(const CorePtr& core, CURLcode code);
    // Asks again at |location|, on the same host: false when that cannot start.
    bool followRedirect(const CorePtr& core, const char* location);
    void end(const CorePtr& core, const Ended& ended);
    void checkTransfers();
    void armTimer();
    void cancel(const CorePtr& core);

    EventLoop& loop_;
    CURLM* multi_ = nullptr;
    std::set<CorePtr> live_;
    int depth_ = 0;                // libcurl calls under way on this thread
    std::vector<CorePtr> retired_; // cancelled within a libcurl call, removed after it
    Clock::time_point curlDue_ = Clock::time_point::max();
};

} // namespace common::http
