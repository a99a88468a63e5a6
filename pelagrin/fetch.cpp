#include "pelagrin/fetch.h"

#include "common/errortext.h"
#include "common/redirect.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"

#include <QLocale>

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <utility>

namespace pelagrin {

namespace {

using common::Error;
using common::ErrorKind;
using common::http::Ended;
using common::http::Failure;

// The writer's thread is handed the body a few hundred kilobytes at a time, not at every piece
// the network gives.
constexpr qsizetype handOverBytes = qsizetype{256} * 1024;

// How much libcurl reads from the socket at once. Each piece is kept as it came, in a block
// small enough for the allocator to reuse at once: gathering a body into one large buffer costs
// a fresh mapping of memory, and its page faults, for every tile.
constexpr long receiveBufferBytes = 64L * 1024;

// |time| as HTTP dates are written: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string httpDate(const QDateTime& time)
{
    return QLocale::c()
        .toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toStdString();
}

bool statusOk(long status)
{
    return status >= 200 && status <= 299;
}

} // namespace

Transfer::Transfer(Fetcher& fetcher, const QUrl& url, const QString& path, FetchEnded done,
                   std::function<void()> arrived, std::vector<FileBeside> beside, QSize picture,
                   Asking asking)
    : fetcher_(fetcher), file_(fetcher.writer_.open(path)), url_(url), picture_(picture),
      done_(std::move(done)), arrived_(std::move(arrived)), beside_(std::move(beside)),
      asking_(std::move(asking))
{
    fetcher_.live_[file_] = this;
    ++fetcher_.receiving_;
}

Transfer::~Transfer()
{
    http_.reset(); // cancels the request: nothing of it is called any more
    fetcher_.live_.erase(file_);
    fetcher_.writer_.discard(file_); // nothing when the file is already in place
    bodyEnded();
}

void Transfer::bodyEnded()
{
    if (std::exchange(receiving_, false) && --fetcher_.receiving_ == 0) {
        // No body is on its way, so no file will join the group soon: it goes to the disk now.
        fetcher_.writer_.flush();
    }
}

common::Status Transfer::start()
{
    common::http::Request request = fetcher_.pictureRequest(url_);
    request.receiveBufferBytes = receiveBufferBytes;
    request.keep = {"Map-Credit", "Map-Source", "ETag"};
    if (!asking_.etag.isEmpty()) {
        request.headers.push_back("If-None-Match: " + asking_.etag.toStdString());
    }
    if (asking_.modified.isValid()) {
        request.headers.push_back("If-Modified-Since: " + httpDate(asking_.modified));
    }
    common::http::Handlers handlers;
    handlers.body = [this](long status, const char* data, std::size_t size) {
        return take(status, data, size);
    };
    handlers.restart = [this] { restart(); };
    handlers.ended = [this](const Ended& ended) { finish(ended); };
    auto started = fetcher_.loop_->client().start(std::move(request), std::move(handlers));
    if (!started) {
        return common::makeError(
            ErrorKind::Permanent,
            fetchFailedText(url_.authority(), QString::fromStdString(started.error().text)));
    }
    http_ = std::move(started).value();
    return {};
}

bool Transfer::take(long status, const char* data, std::size_t size)
{
    if (body_ != Body::Picture) {
        return true; // read only to be counted
    }
    gif_.feed(data, size);
    if (picture_.isValid() && gif_.screenWidth() > 0 && statusOk(status) &&
        QSize(gif_.screenWidth(), gif_.screenHeight()) != picture_) {
        body_ = Body::WrongSize; // check() tells why; the rest would change nothing
        pending_.clear();
        pendingBytes_ = 0;
        return false;
    }
    if (gif_.broken()) {
        body_ = Body::NotGif;
        pending_.clear();
        pendingBytes_ = 0;
        // A page sent as a picture: the rest would change nothing. The body of an error is
        // read to its end, so that the connection can serve the next request.
        return !statusOk(status);
    }
    pending_.append(QByteArray(data, static_cast<qsizetype>(size)));
    pendingBytes_ += static_cast<qsizetype>(size);
    if (pendingBytes_ >= handOverBytes) {
        handOver();
    }
    return true;
}

void Transfer::restart()
{
    gif_ = {};
    body_ = Body::Picture;
    pending_.clear();
    pendingBytes_ = 0;
}

void Transfer::handOver()
{
    if (!pending_.isEmpty()) {
        fetcher_.writer_.write(file_, std::exchange(pending_, {}));
        pendingBytes_ = 0;
    }
}

void Transfer::finish(const Ended& ended)
{
    handOver();
    if (asking_.unchanged && ended.failure == Failure::None && ended.status == 304) {
        fetcher_.writer_.discard(file_, [fetcher = &fetcher_, id = file_] {
            if (const auto it = fetcher->live_.find(id); it != fetcher->live_.end()) {
                it->second->unchanged();
            }
        });
        bodyEnded();
        return;
    }
    const auto settle = [fetcher = &fetcher_, id = file_](const common::Status& status) {
        if (const auto it = fetcher->live_.find(id); it != fetcher->live_.end()) {
            it->second->settled(status);
        }
    };
    if (auto failure = check(ended)) {
        // |done| runs once the temporary file is gone.
        fetcher_.writer_.discard(file_, [settle, failure] { settle(*failure); });
        bodyEnded();
        return;
    }
    if (arrived_) {
        arrived_();
    }
    // A file that cannot be written stays so (a permanent error): trying the fetch again will
    // not help. The files beside it are written once it is in place; the first failure among
    // them fails the transfer, the picture staying.
    const auto header = [&ended](const char* name) {
        const auto found = ended.headers.find(name);
        return found == ended.headers.end() ? QString() : QString::fromStdString(found->second);
    };
    const PictureTold told{header("Map-Credit"), header("Map-Source"), header("ETag")};
    if (asking_.told) {
        asking_.told(told);
    }
    std::vector<FileWriter::WholeFile> beside;
    beside.reserve(beside_.size());
    for (const FileBeside& file : beside_) {
        beside.push_back({file.path, file.bytes(told)});
    }
    fetcher_.writer_.commit(
        file_,
        [settle](const common::Status& written, const common::Status& besideWritten) {
            if (!written) {
                settle(written);
            } else if (!besideWritten) {
                settle(Error{ErrorKind::NotPlaced, besideWritten.error().text,
                             besideWritten.error().status});
            } else {
                settle({});
            }
        },
        std::move(beside));
    bodyEnded(); // after |arrived|, which may have started the next body
}

void Transfer::settled(const common::Status& ended)
{
    fetcher_.live_.erase(file_);
    // The owner may destroy this object from |done|: nothing of it is touched afterwards.
    auto done = std::move(done_);
    done(ended);
}

void Transfer::unchanged()
{
    fetcher_.live_.erase(file_);
    auto unchanged = std::move(asking_.unchanged);
    unchanged();
}

QString Transfer::describeFailure(const Ended& ended) const
{
    const QString service = url_.authority();
    if (ended.status != 0 && !statusOk(ended.status)) {
        return serviceErrorText(service, static_cast<int>(ended.status),
                                QString::fromStdString(ended.reason));
    }
    switch (ended.failure) {
    case Failure::Refused:
        return connectionRefusedText(service);
    case Failure::NoHost:
        return hostNotFoundText(url_.host());
    case Failure::TimedOut:
        return noAnswerInTimeText(service);
    case Failure::CutShort:
        return cutShortText(service);
    default:
        return fetchFailedText(service, QString::fromStdString(ended.message));
    }
}

std::optional<Error> Transfer::check(const Ended& ended) const
{
    const QString service = url_.authority();
    const QString contentType = QString::fromStdString(ended.contentType);
    switch (ended.failure) {
    case Failure::TooLarge:
        return common::makeError(ErrorKind::Permanent,
                                 tooLargeText(service, contentType, maxPictureBytes));
    case Failure::RedirectElsewhere:
        return common::makeError(
            ErrorKind::Permanent,
            redirectedElsewhereText(service, QString::fromStdString(ended.elsewhere)));
    case Failure::TooManyRedirects:
        return common::makeError(ErrorKind::Permanent,
                                 tooManyRedirectsText(service, common::maxRedirects));
    default:
        break;
    }
    if (body_ == Body::WrongSize ||
        (picture_.isValid() && gif_.whole() && !gif_.imagesFillScreen())) {
        return common::makeError(ErrorKind::Passing,
                                 wrongSizeText(service, gif_.screenWidth(), gif_.screenHeight(),
                                               picture_.width(), picture_.height()));
    }
    if (body_ == Body::NotGif && statusOk(ended.status)) {
        return common::makeError(ErrorKind::Passing,
                                 notWholePictureText(service, contentType, ended.bodyBytes));
    }
    if (ended.failure != Failure::None || !statusOk(ended.status)) {
        return common::makeError(common::http::kindOf(ended), describeFailure(ended),
                                 static_cast<int>(ended.status));
    }
    if (!ended.complete()) {
        return common::makeError(ErrorKind::Passing, cutShortText(service));
    }
    if (!gif_.whole()) {
        return common::makeError(ErrorKind::Passing,
                                 notWholePictureText(service, contentType, ended.bodyBytes));
    }
    return std::nullopt;
}

std::vector<FileBeside> georeferencing(const QString& path, const common::GeoTransform& place)
{
    return {{common::worldFilePath(path),
             [place](const PictureTold&) { return common::worldFileText(place); }},
            {common::auxFilePath(path), [place](const PictureTold& told) {
                 return common::auxFileText(place, told.credit, told.source, told.etag);
             }}};
}

common::http::Request Fetcher::pictureRequest(const QUrl& url) const
{
    common::http::Request request;
    request.url = url.toEncoded().toStdString();
    request.userAgent = "pelagrin/" MAPSUITE_VERSION;
    request.maxBodyBytes = maxPictureBytes;
    request.lowRateWindow = std::chrono::milliseconds(transferTimeoutMs_);
    request.noProxy = true; // the map service is asked directly
    return request;
}

common::Result<std::unique_ptr<common::http::Transfer>>
Fetcher::askSource(const QString& url, std::function<void(const QString& source)> done)
{
    common::http::Request request = pictureRequest(QUrl(url));
    request.keep = {"Map-Source"};
    common::http::Handlers handlers;
    handlers.body = [](long, const char*, std::size_t) { return true; };
    handlers.ended = [done = std::move(done)](const Ended& ended) {
        const auto source = ended.headers.find("Map-Source");
        done(ended.ok() && source != ended.headers.end() ? QString::fromStdString(source->second)
                                                         : QString());
    };
    return loop_->client().start(std::move(request), std::move(handlers));
}

Fetcher::Fetcher(int transferTimeoutMs)
    : loop_(std::make_unique<CurlLoop>()), transferTimeoutMs_(transferTimeoutMs)
{}

Fetcher::~Fetcher() = default;

common::Result<std::unique_ptr<Transfer>>
Fetcher::download(const QString& urladdy, const QString& wheretobmp, FetchEnded done,
                  std::function<void()> arrived, std::vector<FileBeside> beside, QSize picture,
                  Asking asking)
{
    // Blanks and other characters a URL cannot carry are percent-encoded on the wire.
    const QUrl url(urladdy, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        return common::makeError(ErrorKind::BadInput, invalidAddressText(urladdy));
    }
    auto transfer =
        std::make_unique<Transfer>(*this, url, wheretobmp, std::move(done), std::move(arrived),
                                   std::move(beside), picture, std::move(asking));
    if (auto started = transfer->start(); !started) {
        return started.error();
    }
    return transfer;
}

} // namespace pelagrin
