#include "mapservice/upstream.h"

#include "common/redirect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mapservice {

namespace {

using Clock = std::chrono::steady_clock;

// How often the thread looks at deadlines and abandoned pictures when nothing else happens.
constexpr std::chrono::milliseconds tick{50};

std::string megabytes(std::int64_t bytes)
{
    return std::to_string(bytes >> 20) + " MB";
}

void initialiseCurlOnce()
{
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

} // namespace

Fetched transferOutcome(int curlCode, const std::string& curlReason, long httpStatus, bool tooBig,
                        const std::string& host, const std::string& what, std::int64_t maxBodyBytes)
{
    const std::string from = "upstream " + host + ": ";
    if (tooBig || curlCode == CURLE_FILESIZE_EXCEEDED) {
        return common::passing(from + what + " is larger than " + megabytes(maxBodyBytes), 502);
    }
    if (curlCode == CURLE_OPERATION_TIMEDOUT) {
        return common::timedOut(from + "no answer in time for " + what, 504);
    }
    if (curlCode == CURLE_OUT_OF_MEMORY) {
        // What libcurl answers for a header past its limit of 100 kB.
        return common::passing(from + "header too large (" + what + ")", 502);
    }
    if (curlCode != CURLE_OK) {
        return common::passing(from + curlReason + " (" + what + ")", 502);
    }
    if (httpStatus == 404 || httpStatus == 204) {
        return std::optional<std::string>{}; // nothing there: no data, not a failure
    }
    if (httpStatus < 200 || httpStatus > 299) {
        return common::passing(from + "status " + std::to_string(httpStatus) + " for " + what, 502);
    }
    return std::optional<std::string>{std::string()};
}

namespace {

struct Waiter {
    Wanted wanted;
    std::function<void(Fetched)> done;
};

struct Job {
    std::string url, key, what;
    PictureSize size;
    Waiter waiter;
};

// One transfer in flight and the pictures waiting for it.
struct Transfer {
    CURL* easy = nullptr;
    std::string url; // as asked
    PictureSize size;
    int redirects = 0;
    std::string key, what;
    std::unique_ptr<TileCache::Temporary> temporary; // the body, as it arrives
    std::int64_t bytes = 0;
    std::int64_t maxBytes = 0;
    bool tooBig = false;
    int writeError = 0;    // errno of a write that failed
    bool madeRoom = false; // the file system was full once, and the cache made room

    char error[CURL_ERROR_SIZE] = {};
    std::vector<Waiter> waiters;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* transfer)
{
    auto* t = static_cast<Transfer*>(transfer);
    const std::size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    if (common::isRedirect(status)) {
        return bytes; // the page beside a redirect is no answer
    }
    if (t->bytes + static_cast<std::int64_t>(bytes) > t->maxBytes) {
        t->tooBig = true;
        return 0; // curl ends the transfer with a write error
    }
    if (std::fwrite(data, 1, bytes, t->temporary->file()) != bytes) {
        t->writeError = errno;
        return 0;
    }
    t->bytes += static_cast<std::int64_t>(bytes);
    return bytes;
}

// The picture a cache entry holds, or nothing.
std::optional<std::string> pictureOf(const std::optional<TileCache::Cached>& cached)
{
    return cached && !cached->nothing ? std::optional(cached->file) : std::nullopt;
}

} // namespace

struct Upstream::Private {
    Private(const std::string& h, Options o, TileCache& c)
        : host(h), options(std::move(o)), cache(c)
    {
        initialiseCurlOnce();
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long{options.connections});
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, long{options.connections});
        thread = std::thread([this] { run(); });
    }

    ~Private()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        curl_multi_cleanup(multi);
    }

    void run()
    {
        for (;;) {
            std::vector<Job> jobs;
            {
                const std::lock_guard lock(mutex);
                if (stopping) {
                    break;
                }
                jobs.swap(queued);
            }
            for (Job& job : jobs) {
                take(std::move(job));
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE) {
                    finish(message->easy_handle, message->data.result);
                }
            }
            dropUnwanted();
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(tick.count()), nullptr);
        }
        // Stopping: what is in flight ends here, and nobody is called back any more.
        for (auto& [key, transfer] : inFlight) {
            abort(*transfer);
        }
        inFlight.clear();
    }

    // A new request: from the cache, joined to a transfer of the same key, or a new transfer.
    void take(Job job)
    {
        if (job.waiter.wanted.over()) {
            job.waiter.done(overFor(job.waiter, job.what));
            return;
        }
        if (const auto cached = cache.find(job.key)) {
            job.waiter.done(pictureOf(cached));
            return;
        }
        if (const auto it = inFlight.find(job.key); it != inFlight.end()) {
            it->second->waiters.push_back(std::move(job.waiter));
            return;
        }
        auto temporary = cache.temporaryFor(job.key);
        if (!temporary) {
            job.waiter.done(temporary.error());
            return;
        }
        auto transfer = std::make_unique<Transfer>();
        transfer->url = job.url;
        transfer->size = job.size;
        transfer->key = job.key;
        transfer->what = job.what;
        transfer->temporary = std::move(temporary).value();
        transfer->maxBytes = options.maxBodyBytes;
        // curl's own limit is a backstop: the waiters' deadlines are kept here.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            job.waiter.wanted.deadline - Clock::now());
        const long timeoutMs =
            static_cast<long>(std::clamp<std::int64_t>(left.count() + 1000, 1000, 3'600'000));
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, job.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // libcurl would follow a redirect to any host: redirect() decides instead.
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, options.userAgent.c_str());
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""); // the cap counts decoded bytes
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(options.maxBodyBytes));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->error);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
        transfer->easy = easy;
        transfer->waiters.push_back(std::move(job.waiter));
        curl_multi_add_handle(multi, easy);
        inFlight.emplace(job.key, std::move(transfer));
    }

    void finish(CURL* easy, CURLcode code)
    {
        Transfer* t = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        std::optional<common::Error> refused;
        if (code == CURLE_OK && common::isRedirect(status)) {
            refused = redirect(*t);
            if (!refused) {
                return; // on its way to the new place
            }
        }
        errno = 0;
        const bool written = std::fflush(t->temporary->file()) == 0;
        const int writeError = written ? t->writeError : errno;
        if (!refused && !t->madeRoom && (writeError == ENOSPC || writeError == EDQUOT)) {
            // A full file system: the cache makes room and the tile is fetched once more.
            t->madeRoom = true;
            cache.makeRoom();
            if (startAgain(*t, t->url)) {
                return;
            }
        }
        const std::string reason = t->error[0] != '\0' ? t->error : curl_easy_strerror(code);
        Fetched outcome =
            transferOutcome(code, reason, status, t->tooBig, host, t->what, options.maxBodyBytes);
        if (refused) {
            outcome = *refused;
        } else if (outcome && !written) {
            outcome = common::permanent(
                "the tile cache cannot be written: " +
                    std::error_code(writeError, std::generic_category()).message(),
                500);
        }
        if (outcome && outcome->has_value() && t->bytes > 0) {
            // Checked here, on the upstream's thread: only whole pictures enter the cache.
            if (const auto problem = fileProblem(t->temporary->path(), t->size,
                                                 static_cast<std::size_t>(options.maxBodyBytes))) {
                outcome =
                    common::passing("upstream " + host + ": " + t->what + " is " + *problem, 502);
            }
        }
        if (outcome) {
            const bool nothing = !outcome->has_value() || t->bytes == 0;
            const common::Status stored = nothing ? cache.storeNothing(t->key, *t->temporary)
                                                  : cache.store(t->key, *t->temporary);
            outcome = !stored ? Fetched(stored.error()) : pictureOf(cache.find(t->key));
        }
        t->temporary.reset(); // removed unless stored
        curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        t->easy = nullptr;
        auto node = inFlight.extract(t->key);
        for (Waiter& waiter : node.mapped()->waiters) {
            waiter.done(outcome);
        }
    }

    // Sends |t| on to the place its redirect names, when that is on the same host (from HTTP to
    // HTTPS too, never back) within maxRedirects hops; else why not.
    std::optional<common::Error> redirect(Transfer& t)
    {
        char* location = nullptr;
        curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &location);
        const std::string next = location != nullptr ? location : "";
        const auto failed = [&](const std::string& why) {
            return common::passing("upstream " + host + ": " + t.what + " " + why, 502);
        };
        if (next.empty()) {
            return failed("was redirected without a place");
        }
        if (const auto elsewhere = common::redirectElsewhere(t.url, next)) {
            return failed("was redirected to another host, " + *elsewhere +
                          ", which is not followed");
        }
        if (++t.redirects > common::maxRedirects) {
            return failed("was redirected more than " + std::to_string(common::maxRedirects) +
                          " times");
        }
        if (!startAgain(t, next)) {
            return common::permanent("the tile cache cannot be written", 500);
        }
        return std::nullopt;
    }

    // Asks for |t| at |url| from the start, its file emptied; false when that fails.
    bool startAgain(Transfer& t, const std::string& url)
    {
        if (!t.temporary->restart()) {
            return false;
        }
        t.bytes = 0;
        t.writeError = 0;
        curl_multi_remove_handle(multi, t.easy);
        curl_easy_setopt(t.easy, CURLOPT_URL, url.c_str());
        curl_multi_add_handle(multi, t.easy);
        return true;
    }

    // Calls back the pictures no longer wanted; a transfer nobody waits for any more stops.
    void dropUnwanted()
    {
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            Transfer& t = *it->second;
            const auto over =
                std::stable_partition(t.waiters.begin(), t.waiters.end(),
                                      [](const Waiter& w) { return !w.wanted.over(); });
            std::vector<Waiter> gone(std::make_move_iterator(over),
                                     std::make_move_iterator(t.waiters.end()));
            t.waiters.erase(over, t.waiters.end());
            for (Waiter& waiter : gone) {
                waiter.done(overFor(waiter, t.what));
            }
            if (t.waiters.empty()) {
                abort(t);
                it = inFlight.erase(it);
            } else {
                ++it;
            }
        }
    }

    Fetched overFor(const Waiter& waiter, const std::string& what) const
    {
        if (*waiter.wanted.abandoned) {
            return common::passing("upstream " + host + ": " + what + " no longer wanted", 502);
        }
        return common::timedOut("upstream " + host + ": no answer in time for " + what, 504);
    }

    void abort(Transfer& t)
    {
        if (t.easy != nullptr) {
            curl_multi_remove_handle(multi, t.easy);
            curl_easy_cleanup(t.easy);
            t.easy = nullptr;
        }
        t.temporary.reset();
    }

    const std::string host;
    const Options options;
    TileCache& cache;
    CURLM* multi = nullptr;

    std::mutex mutex; // guards queued and stopping
    std::vector<Job> queued;
    bool stopping = false;

    std::map<std::string, std::unique_ptr<Transfer>> inFlight; // the thread's own
    std::thread thread;
};

Upstream::Upstream(std::string host, Options options, TileCache& cache)
    : host_(std::move(host)), d_(std::make_unique<Private>(host_, std::move(options), cache))
{}

Upstream::~Upstream() = default;

void Upstream::fetch(std::string url, std::string key, std::string what, PictureSize size,
                     Wanted wanted, std::function<void(Fetched)> done)
{
    {
        const std::lock_guard lock(d_->mutex);
        d_->queued.push_back({std::move(url),
                              std::move(key),
                              std::move(what),
                              size,
                              {std::move(wanted), std::move(done)}});
    }
    curl_multi_wakeup(d_->multi);
}

} // namespace mapservice
