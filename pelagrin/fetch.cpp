#include "pelagrin/fetch.h"

#include "common/errortext.h"
#include "common/redirect.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <utility>

namespace pelagrin {

namespace {

using common::Error;
using common::ErrorKind;

// The writer's thread is handed the body a few hundred kilobytes at a time, not at every piece
// the network gives.
constexpr qsizetype handOverBytes = qsizetype{256} * 1024;

// How much libcurl reads from the socket at once. Each piece is kept as it came, in a block
// small enough for the allocator to reuse at once: gathering a body into one large buffer costs
// a fresh mapping of memory, and its page faults, for every tile.
constexpr long receiveBufferBytes = 64L * 1024;

bool statusOk(long status)
{
    return status >= 200 && status <= 299;
}

// The activity timer ticks this many times within one time-out, so that a transfer that stops
// is noticed at most an eighth of the time-out late.
constexpr int activityTicks = 8;

} // namespace

Transfer::Transfer(Fetcher& fetcher, const QUrl& url, const QString& path,
                   std::function<void(FetchResult)> done, std::function<void()> arrived,
                   std::vector<FileBeside> beside, QSize picture)
    : fetcher_(fetcher), file_(fetcher.writer_.open(path)), easy_(curl_easy_init()), url_(url),
      encodedUrl_(url.toEncoded()), picture_(picture), done_(std::move(done)),
      arrived_(std::move(arrived)), beside_(std::move(beside))
{
    fetcher_.live_[file_] = this;
    curl_easy_setopt(easy_, CURLOPT_URL, encodedUrl_.constData());
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    // libcurl would follow a redirect to any host: followRedirect() decides instead.
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, "pelagrin/" MAPSUITE_VERSION);
    curl_easy_setopt(easy_, CURLOPT_PROXY, ""); // the map service is asked directly
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, receiveBufferBytes);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_.data());
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);

    QObject::connect(&activity_, &QTimer::timeout, [this] { checkActivity(); });
    started_.start();
    samples_.emplace_back(0, 0);
    activity_.start(std::max(1, fetcher_.transferTimeoutMs_ / activityTicks));
    // Without a handle (no memory, or no multi handle) the transfer never starts: download()
    // refuses it.
    running_ = easy_ != nullptr && fetcher_.loop_->add(easy_);
}

Transfer::~Transfer()
{
    fetcher_.live_.erase(file_);
    fetcher_.writer_.discard(file_); // nothing when the file is already in place
    if (running_) {
        fetcher_.loop_->remove(easy_);
    }
    curl_easy_cleanup(easy_);
}

std::size_t Transfer::onBody(char* data, std::size_t size, std::size_t count, void* self)
{
    const std::size_t bytes = size * count;
    // Anything but all of it ends the transfer, with CURLE_WRITE_ERROR.
    return static_cast<Transfer*>(self)->take(data, bytes) ? bytes : 0;
}

std::size_t Transfer::onHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    const std::size_t bytes = size * count;
    transfer->activityBytes_ += static_cast<qint64>(bytes);
    // Each answer, after a redirect too, begins with its status line: "HTTP/1.1 404 Not Found".
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        const qsizetype code = line.indexOf(' ');
        const qsizetype reason = code < 0 ? -1 : line.indexOf(' ', code + 1);
        transfer->reason_ = reason < 0 ? QByteArray() : line.mid(reason + 1);
    }
    return bytes;
}

bool Transfer::take(const char* data, std::size_t size)
{
    activityBytes_ += static_cast<qint64>(size);
    if (common::isRedirect(status())) {
        return true; // the page beside a redirect is no picture; finish() follows it
    }
    received_ += static_cast<qint64>(size);
    if (received_ > maxPictureBytes) {
        tooLarge_ = true;
        pending_.clear();
        pendingBytes_ = 0;
        return false; // check() tells why
    }
    if (notGif_) {
        return true; // read only to be counted
    }
    gif_.feed(data, size);
    if (picture_.isValid() && gif_.screenWidth() > 0 && statusOk(status()) &&
        QSize(gif_.screenWidth(), gif_.screenHeight()) != picture_) {
        wrongSize_ = true; // check() tells why; the rest would change nothing
        pending_.clear();
        pendingBytes_ = 0;
        return false;
    }
    if (gif_.broken()) {
        notGif_ = true;
        pending_.clear();
        pendingBytes_ = 0;
        // A page sent as a picture: the rest would change nothing. The body of an error is
        // read to its end, so that the connection can serve the next request.
        return !statusOk(status());
    }
    pending_.append(QByteArray(data, static_cast<qsizetype>(size)));
    pendingBytes_ += static_cast<qsizetype>(size);
    if (pendingBytes_ >= handOverBytes) {
        handOver();
    }
    return true;
}

void Transfer::handOver()
{
    if (!pending_.isEmpty()) {
        fetcher_.writer_.write(file_, std::exchange(pending_, {}));
        pendingBytes_ = 0;
    }
}

void Transfer::checkActivity()
{
    // The oldest count kept is the latest one at least a time-out old: what came since then
    // decides.
    const qint64 now = started_.elapsed();
    const qint64 window = fetcher_.transferTimeoutMs_;
    samples_.emplace_back(now, activityBytes_);
    while (samples_.size() > 1 && samples_[1].first <= now - window) {
        samples_.pop_front();
    }
    if (samples_.front().first > now - window ||
        activityBytes_ - samples_.front().second >= Fetcher::minBytesPerTimeout) {
        return;
    }
    timedOut_ = true;
    finish(CURLE_OPERATION_TIMEDOUT);
}

bool Transfer::followRedirect()
{
    char* location = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_REDIRECT_URL, &location);
    if (location == nullptr) {
        return false; // a redirect without a place: a failure with its status
    }
    const QString service = url_.authority();
    if (const auto elsewhere =
            common::redirectElsewhere(url_.toEncoded().toStdString(), location)) {
        refusedRedirect_ =
            common::makeError(ErrorKind::Permanent,
                              redirectedElsewhereText(service, QString::fromStdString(*elsewhere)));
        return false;
    }
    if (++redirects_ > common::maxRedirects) {
        refusedRedirect_ = common::makeError(ErrorKind::Permanent,
                                             tooManyRedirectsText(service, common::maxRedirects));
        return false;
    }
    fetcher_.loop_->remove(easy_);
    encodedUrl_ = location; // absolute, as libcurl gives it
    curl_easy_setopt(easy_, CURLOPT_URL, encodedUrl_.constData());
    gif_ = {};
    received_ = 0;
    notGif_ = false;
    reason_.clear();
    return fetcher_.loop_->add(easy_);
}

void Transfer::finish(CURLcode code)
{
    if (!running_) {
        return;
    }
    if (code == CURLE_OK && common::isRedirect(status()) && followRedirect()) {
        return;
    }
    running_ = false;
    fetcher_.loop_->remove(easy_); // the connection goes back to the fetcher's, when whole
    activity_.stop();
    handOver();
    const auto settle = [fetcher = &fetcher_, id = file_](std::optional<Error> failure,
                                                          bool stored) {
        if (const auto it = fetcher->live_.find(id); it != fetcher->live_.end()) {
            it->second->settled(std::move(failure), stored);
        }
    };
    if (auto failure = check(code)) {
        // |done| runs once the temporary file is gone.
        fetcher_.writer_.discard(file_, [settle, failure] { settle(failure, false); });
        return;
    }
    whole_ = true;
    if (arrived_) {
        arrived_();
    }
    // A file that cannot be written stays so (a permanent error): trying the fetch again will
    // not help. The files beside it are written once it is in place; the first failure among
    // them fails the transfer, the picture staying.
    QString credit;
    curl_header* header = nullptr;
    if (curl_easy_header(easy_, "Map-Credit", 0, CURLH_HEADER, -1, &header) == CURLHE_OK) {
        credit = QString::fromUtf8(header->value);
    }
    std::vector<FileWriter::WholeFile> beside;
    beside.reserve(beside_.size());
    for (const FileBeside& file : beside_) {
        beside.push_back({file.path, file.bytes(credit)});
    }
    fetcher_.writer_.commit(
        file_,
        [settle](const common::Status& written, const common::Status& besideWritten) {
            const common::Status& first = written ? besideWritten : written;
            settle(first ? std::nullopt : std::optional<Error>(first.error()), written.ok());
        },
        std::move(beside));
}

void Transfer::settled(std::optional<Error> failure, bool stored)
{
    fetcher_.live_.erase(file_);
    FetchResult result{std::move(failure), whole_, stored};
    // The owner may destroy this object from |done|: nothing of it is touched afterwards.
    auto done = std::move(done_);
    done(std::move(result));
}

long Transfer::status() const
{
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

QString Transfer::describeFailure(CURLcode code) const
{
    const QString service = url_.authority();
    const long answered = status();
    if (answered != 0 && !statusOk(answered)) {
        return serviceErrorText(service, static_cast<int>(answered), QString::fromUtf8(reason_));
    }
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return connectionRefusedText(service);
    case CURLE_COULDNT_RESOLVE_HOST:
        return hostNotFoundText(url_.host());
    case CURLE_OPERATION_TIMEDOUT:
        return noAnswerInTimeText(service);
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return cutShortText(service);
    default:
        return fetchFailedText(
            service,
            QString::fromUtf8(error_[0] != '\0' ? error_.data() : curl_easy_strerror(code)));
    }
}

std::optional<Error> Transfer::check(CURLcode code) const
{
    const long answered = status();
    const char* type = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &type);
    const QString contentType = QString::fromUtf8(type != nullptr ? type : "");
    if (tooLarge_) {
        return common::makeError(ErrorKind::Permanent,
                                 tooLargeText(url_.authority(), contentType, maxPictureBytes));
    }
    if (refusedRedirect_) {
        return refusedRedirect_;
    }
    if (wrongSize_ || (picture_.isValid() && gif_.whole() && !gif_.imagesFillScreen())) {
        return common::makeError(ErrorKind::Passing,
                                 wrongSizeText(url_.authority(), gif_.screenWidth(),
                                               gif_.screenHeight(), picture_.width(),
                                               picture_.height()));
    }
    if (notGif_ && statusOk(answered)) {
        return common::makeError(ErrorKind::Passing,
                                 notWholePictureText(url_.authority(), contentType, received_));
    }
    if (code != CURLE_OK || !statusOk(answered)) {
        const bool clientError = answered >= 400 && answered <= 499;
        const bool late = answered == 0 && timedOut_;
        const ErrorKind kind = clientError ? ErrorKind::Permanent
                               : late      ? ErrorKind::TimedOut
                                           : ErrorKind::Passing;
        return common::makeError(kind, describeFailure(code), static_cast<int>(answered));
    }
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0 && length != received_) {
        return common::makeError(ErrorKind::Passing, cutShortText(url_.authority()));
    }
    if (!gif_.whole()) {
        return common::makeError(ErrorKind::Passing,
                                 notWholePictureText(url_.authority(), contentType, received_));
    }
    return std::nullopt;
}

std::vector<FileBeside> georeferencing(const QString& path, const common::GeoTransform& place)
{
    return {{common::worldFilePath(path),
             [place](const QString&) { return common::worldFileText(place); }},
            {common::auxFilePath(path),
             [place](const QString& credit) { return common::auxFileText(place, credit); }}};
}

Fetcher::Fetcher(int transferTimeoutMs)
    : loop_(std::make_unique<CurlLoop>([](CURL* easy, CURLcode code) {
          Transfer* transfer = nullptr;
          curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
          transfer->finish(code);
      })),
      transferTimeoutMs_(transferTimeoutMs)
{}

Fetcher::~Fetcher() = default;

common::Result<std::unique_ptr<Transfer>>
Fetcher::download(const QString& urladdy, const QString& wheretobmp,
                  std::function<void(FetchResult)> done, std::function<void()> arrived,
                  std::vector<FileBeside> beside, QSize picture)
{
    // Blanks and other characters a URL cannot carry are percent-encoded on the wire.
    const QUrl url(urladdy, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        return common::makeError(ErrorKind::BadInput, invalidAddressText(urladdy));
    }
    auto transfer = std::make_unique<Transfer>(*this, url, wheretobmp, std::move(done),
                                               std::move(arrived), std::move(beside), picture);
    if (!transfer->running_) {
        return common::makeError(
            ErrorKind::Permanent,
            fetchFailedText(url.authority(), QStringLiteral("no HTTP client")));
    }
    return transfer;
}

} // namespace pelagrin
