#include "common/httpclient.h"

#include "common/redirect.h"

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

namespace common::http {

namespace {

void initialiseOnce()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised; // a failure shows as curl_multi_init's
}

} // namespace

struct Transfer::Core : std::enable_shared_from_this<Transfer::Core> {
    enum class State { Running, Ended };

    Client* client = nullptr; // null once the client is gone
    CURL* easy = nullptr;
    State state = State::Running;
    Request request;
    Handlers handlers;
    int redirects = 0;
    std::int64_t bodyBytes = 0;
    std::int64_t activity = 0; // bytes of headers and bodies so far
    bool tooLarge = false;
    bool stopped = false;   // the consumer refused the body
    bool cancelled = false; // its Transfer is gone
    std::string reason;
    std::array<char, CURL_ERROR_SIZE> error{};
    // Activity counts at the latest checks; the oldest kept is the latest at least a window old.
    std::deque<std::pair<Clock::time_point, std::int64_t>> samples;
    Clock::time_point nextCheck = Clock::time_point::max();

    curl_slist* headerLines = nullptr;

    ~Core()
    {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headerLines);
    }

    long status() const
    {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    void scheduleCheck(Clock::time_point now)
    {
        nextCheck = request.deadline;
        if (request.lowRateWindow.count() > 0) {
            // Eight looks within a window: a transfer that stops is noticed an eighth late.
            nextCheck = std::min(
                nextCheck, now + std::max(request.lowRateWindow / 8, std::chrono::milliseconds(1)));
        }
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto* core = static_cast<Core*>(self);
        const std::size_t bytes = size * count;
        core->activity += static_cast<std::int64_t>(bytes);
        if (core->cancelled) {
            return 0;
        }
        const long status = core->status();
        if (isRedirect(status)) {
            return bytes; // the page beside a redirect is no answer
        }
        if (core->bodyBytes + static_cast<std::int64_t>(bytes) > core->request.maxBodyBytes) {
            core->tooLarge = true;
            return 0; // anything but all of it ends the transfer
        }
        core->bodyBytes += static_cast<std::int64_t>(bytes);
        if (core->handlers.body && !core->handlers.body(status, data, bytes)) {
            core->stopped = true;
            return 0;
        }
        return bytes;
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto* core = static_cast<Core*>(self);
        const std::size_t bytes = size * count;
        core->activity += static_cast<std::int64_t>(bytes);
        // Each answer, after a redirect too, begins with its status line: "HTTP/1.1 404 Not
        // Found".
        std::string line(data, bytes);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        if (line.rfind("HTTP/", 0) == 0) {
            const auto code = line.find(' ');
            const auto phrase = code == std::string::npos ? code : line.find(' ', code + 1);
            core->reason = phrase == std::string::npos ? std::string() : line.substr(phrase + 1);
        }
        return bytes;
    }
};

Transfer::~Transfer()
{
    core_->handlers = {};
    if (core_->state == Core::State::Running && core_->client != nullptr) {
        core_->client->cancel(core_);
    }
}

Client::Client(EventLoop& loop) : loop_(loop)
{
    initialiseOnce();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Client::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Client::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

Client::~Client()
{
    for (const CorePtr& core : live_) {
        curl_multi_remove_handle(multi_, core->easy);
        core->state = Transfer::Core::State::Ended;
        core->client = nullptr;
    }
    for (const CorePtr& core : retired_) {
        curl_multi_remove_handle(multi_, core->easy);
    }
    // Closing the kept connections tells onSocket() of each: the loop is still there.
    curl_multi_cleanup(multi_);
}

int Client::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    static_cast<Client*>(self)->loop_.watch(socket, what);
    return 0;
}

int Client::onTimer(CURLM*, long timeoutMs, void* self)
{
    auto* client = static_cast<Client*>(self);
    client->curlDue_ = timeoutMs < 0 ? Clock::time_point::max()
                                     : Clock::now() + std::chrono::milliseconds(timeoutMs);
    client->armTimer();
    return 0;
}

void Client::armTimer()
{
    Clock::time_point due = curlDue_;
    for (const CorePtr& core : live_) {
        due = std::min(due, core->nextCheck);
    }
    if (due == Clock::time_point::max()) {
        loop_.startTimer(-1);
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    loop_.startTimer(static_cast<long>(std::clamp<std::int64_t>(ms, 0, INT_MAX)));
}

Result<std::unique_ptr<Transfer>> Client::start(Request request, Handlers handlers)
{
    const auto scheme = request.url.substr(0, request.url.find(':'));
    if (scheme != "http" && scheme != "https") {
        return badInput("not an HTTP or HTTPS address: " + request.url);
    }
    auto core = std::make_shared<Transfer::Core>();
    core->client = this;
    core->easy = curl_easy_init();
    core->request = std::move(request);
    core->handlers = std::move(handlers);
    CURL* easy = core->easy;
    if (easy == nullptr || multi_ == nullptr) {
        return permanent("no HTTP client");
    }
    const Request& r = core->request;
    curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, core.get());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // libcurl would follow a redirect to any host: followRedirect() decides instead.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, r.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, core->error.data());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::Core::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, core.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::Core::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, core.get());
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(r.maxBodyBytes));
    if (r.noProxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
    if (r.decodeContent) {
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    }
    for (const std::string& line : r.headers) {
        core->headerLines = curl_slist_append(core->headerLines, line.c_str());
    }
    if (core->headerLines != nullptr) {
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, core->headerLines);
    }
    if (r.receiveBufferBytes > 0) {
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, r.receiveBufferBytes);
    }
    const auto now = Clock::now();
    core->samples.emplace_back(now, 0);
    core->scheduleCheck(now);
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        return permanent("no HTTP client");
    }
    live_.insert(core);
    armTimer();
    return std::unique_ptr<Transfer>(new Transfer(std::move(core)));
}

void Client::cancel(const CorePtr& core)
{
    core->cancelled = true;
    core->state = Transfer::Core::State::Ended;
    live_.erase(core);
    if (depth_ > 0) {
        retired_.push_back(core); // libcurl is using it: removed once the call returns
    } else {
        curl_multi_remove_handle(multi_, core->easy);
    }
}

void Client::act(curl_socket_t socket, int events)
{
    std::vector<std::pair<CorePtr, CURLcode>> done;
    ++depth_;
    int running = 0;
    if (socket != CURL_SOCKET_TIMEOUT) {
        curl_multi_socket_action(multi_, socket, events, &running);
    } else if (Clock::now() >= curlDue_) {
        curlDue_ = Clock::time_point::max(); // libcurl sets its next wish during the call
        curl_multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        Transfer::Core* core = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &core);
        if (!core->cancelled) {
            done.emplace_back(core->shared_from_this(), message->data.result);
        }
    }
    --depth_;
    for (const CorePtr& core : std::exchange(retired_, {})) {
        curl_multi_remove_handle(multi_, core->easy);
    }
    for (const auto& [core, code] : done) {
        finished(core, code);
    }
    checkTransfers();
    armTimer();
}

void Client::checkTransfers()
{
    const auto now = Clock::now();
    std::vector<CorePtr> late;
    for (const CorePtr& core : live_) {
        if (core->nextCheck > now) {
            continue;
        }
        if (now >= core->request.deadline) {
            late.push_back(core);
            continue;
        }
        const auto window = core->request.lowRateWindow;
        core->samples.emplace_back(now, core->activity);
        while (core->samples.size() > 1 && core->samples[1].first <= now - window) {
            core->samples.pop_front();
        }
        if (core->samples.front().first <= now - window &&
            core->activity - core->samples.front().second < minBytesPerWindow) {
            late.push_back(core);
            continue;
        }
        core->scheduleCheck(now);
    }
    for (const CorePtr& core : late) {
        Ended ended;
        ended.failure = Failure::TimedOut;
        ended.status = core->status();
        ended.reason = core->reason;
        ended.bodyBytes = core->bodyBytes;
        end(core, ended);
    }
}

bool Client::followRedirect(const CorePtr& core, const char* location)
{
    ++core->redirects;
    if (core->headerLines != nullptr && !sameOrigin(core->request.url, location)) {
        // The header lines were meant for the first address alone: they may hold a key. (libcurl
        // would keep all but Authorization and Cookie.)
        curl_easy_setopt(core->easy, CURLOPT_HTTPHEADER, nullptr);
    }
    core->request.url = location; // absolute, as libcurl gives it
    core->bodyBytes = 0;
    core->reason.clear();
    if (core->handlers.restart) {
        core->handlers.restart();
    }
    curl_multi_remove_handle(multi_, core->easy);
    curl_easy_setopt(core->easy, CURLOPT_URL, core->request.url.c_str());
    return curl_multi_add_handle(multi_, core->easy) == CURLM_OK;
}

void Client::finished(const CorePtr& core, CURLcode code)
{
    if (core->state != Transfer::Core::State::Running) {
        return;
    }
    const long status = core->status();
    Ended ended;
    ended.status = status;
    if (code == CURLE_OK && isRedirect(status)) {
        char* location = nullptr;
        curl_easy_getinfo(core->easy, CURLINFO_REDIRECT_URL, &location);
        if (location == nullptr) {
            ended.failure = Failure::RedirectWithoutPlace;
        } else if (const auto elsewhere = redirectElsewhere(core->request.url, location)) {
            ended.failure = Failure::RedirectElsewhere;
            ended.elsewhere = *elsewhere;
        } else if (core->redirects + 1 > maxRedirects) {
            ended.failure = Failure::TooManyRedirects;
        } else if (followRedirect(core, location)) {
            return;
        }
    }
    if (ended.failure == Failure::None) {
        if (core->tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            ended.failure = Failure::TooLarge;
        } else if (core->stopped) {
            ended.failure = Failure::Stopped;
        } else {
            ended.failure = failureOf(code);
        }
    }
    ended.message = core->error[0] != '\0' ? core->error.data() : curl_easy_strerror(code);
    ended.reason = core->reason;
    ended.bodyBytes = core->bodyBytes;
    const char* type = nullptr;
    curl_easy_getinfo(core->easy, CURLINFO_CONTENT_TYPE, &type);
    ended.contentType = type != nullptr ? type : "";
    curl_off_t length = -1;
    curl_easy_getinfo(core->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    ended.announcedBytes = length;
    for (const std::string& name : core->request.keep) {
        curl_header* header = nullptr;
        if (curl_easy_header(core->easy, name.c_str(), 0, CURLH_HEADER, -1, &header) == CURLHE_OK) {
            ended.headers[name] = header->value;
        }
    }
    end(core, ended);
}

void Client::end(const CorePtr& core, const Ended& ended)
{
    core->state = Transfer::Core::State::Ended;
    live_.erase(core);
    curl_multi_remove_handle(multi_, core->easy); // its connection is kept, when whole
    // |core| stays alive while its owner may destroy the Transfer from the handler.
    if (auto handler = std::move(core->handlers.ended)) {
        handler(ended);
    }
}

} // namespace common::http
