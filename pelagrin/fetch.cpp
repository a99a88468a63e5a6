#include "pelagrin/fetch.h"

#include "common/errortext.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace pelagrin {

namespace {

using common::Error;
using common::ErrorKind;

// How much of a body Qt may hold before it is read here.
constexpr qint64 readAheadBytes = qint64{4} << 20;

QString describeFailure(const QNetworkReply& reply, const QUrl& url)
{
    const QString service = url.authority();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299) {
            const QString reason =
                reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            return serviceErrorText(service, code, reason);
        }
    }
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return connectionRefusedText(service);
    case QNetworkReply::HostNotFoundError:
        return hostNotFoundText(url.host());
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return noAnswerInTimeText(service);
    case QNetworkReply::RemoteHostClosedError:
        return cutShortText(service);
    default:
        return fetchFailedText(service, reply.errorString());
    }
}

} // namespace

Transfer::Transfer(Fetcher& fetcher, QNetworkReply* reply, QUrl url, const QString& path,
                   std::function<void(FetchResult)> done, std::function<void()> arrived,
                   std::vector<FileBeside> beside)
    : fetcher_(fetcher), file_(fetcher.writer_.open(path)), reply_(reply), url_(std::move(url)),
      done_(std::move(done)), arrived_(std::move(arrived)), beside_(std::move(beside))
{
    fetcher_.live_[file_] = this;
    QObject::connect(reply, &QNetworkReply::readyRead, [this] { take(); });
    QObject::connect(reply, &QNetworkReply::finished, [this] { finish(); });
}

Transfer::~Transfer()
{
    fetcher_.live_.erase(file_);
    fetcher_.writer_.discard(file_); // nothing when the file is already in place
    reply_->disconnect();
    reply_->abort(); // nothing when it has finished
    reply_.release()->deleteLater();
}

void Transfer::take()
{
    if (!reply_->isOpen() || tooLarge_) {
        return; // aborted: nothing to read
    }
    const QByteArray chunk = reply_->readAll();
    received_ += chunk.size();
    if (received_ > maxPictureBytes) {
        tooLarge_ = true;
        pending_.clear();
        reply_->abort(); // finished() follows, and check() tells why
        return;
    }
    if (notGif_) {
        return; // read only to be counted
    }
    gif_.feed(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    if (gif_.broken()) {
        notGif_ = true;
        pending_.clear();
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 200 && status <= 299) {
            reply_->abort(); // a page sent as a picture: the rest would change nothing
        }
        return;
    }
    pending_ += chunk; // shares rather than copies when nothing is pending
    // The writer's thread is handed the body in pieces of a few hundred kilobytes, not in
    // every small piece the network gives.
    constexpr qsizetype handOverBytes = qsizetype{256} * 1024;
    if (pending_.size() >= handOverBytes) {
        handOver();
    }
}

void Transfer::handOver()
{
    if (!pending_.isEmpty()) {
        fetcher_.writer_.write(file_, pending_);
        pending_.clear();
    }
}

void Transfer::finish()
{
    take();
    handOver();
    const auto settle = [fetcher = &fetcher_, id = file_](std::optional<Error> failure,
                                                          bool stored) {
        if (const auto it = fetcher->live_.find(id); it != fetcher->live_.end()) {
            it->second->settled(std::move(failure), stored);
        }
    };
    if (auto failure = check()) {
        // |done| runs once the temporary file is gone.
        fetcher_.writer_.discard(file_, [settle, failure] { settle(failure, false); });
        return;
    }
    whole_ = true;
    if (arrived_) {
        arrived_();
    }
    // A file that cannot be written stays so (a permanent error): trying the fetch again will
    // not help.
    const auto failureOf = [](const common::Status& written) {
        return written ? std::nullopt : std::optional<Error>(written.error());
    };
    const QString credit = QString::fromUtf8(reply_->rawHeader("Map-Credit"));
    fetcher_.writer_.commit(file_, [settle, failureOf, writer = &fetcher_.writer_, beside = beside_,
                                    credit](const common::Status& written) {
        if (!written || beside.empty()) {
            settle(failureOf(written), written.ok());
            return;
        }
        // The files beside it go through the writer too, in order: the last to end settles,
        // with the first failure among them.
        auto left = std::make_shared<std::pair<common::Status, std::size_t>>(common::Status(),
                                                                             beside.size());
        for (const FileBeside& file : beside) {
            const FileWriter::Id id = writer->open(file.path);
            writer->write(id, file.bytes(credit));
            writer->commit(id, [settle, failureOf, left](const common::Status& written) {
                if (left->first && !written) {
                    left->first = written;
                }
                if (--left->second == 0) {
                    settle(failureOf(left->first), true);
                }
            });
        }
    });
}

void Transfer::settled(std::optional<Error> failure, bool stored)
{
    fetcher_.live_.erase(file_);
    FetchResult result{std::move(failure), whole_, stored};
    // The owner may destroy this object from |done|: nothing of it is touched afterwards.
    auto done = std::move(done_);
    done(std::move(result));
}

std::optional<Error> Transfer::check() const
{
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    const bool statusOk = status.isValid() && code >= 200 && code <= 299;
    const QString contentType = reply_->header(QNetworkRequest::ContentTypeHeader).toString();
    if (tooLarge_) {
        return common::makeError(ErrorKind::Permanent,
                                 tooLargeText(url_.authority(), contentType, maxPictureBytes));
    }
    if (notGif_ && statusOk) {
        return common::makeError(ErrorKind::Passing,
                                 notWholePictureText(url_.authority(), contentType, received_));
    }
    if (reply_->error() != QNetworkReply::NoError || !statusOk) {
        const bool clientError = status.isValid() && code >= 400 && code <= 499;
        const bool late =
            !status.isValid() && (reply_->error() == QNetworkReply::TimeoutError ||
                                  reply_->error() == QNetworkReply::OperationCanceledError);
        const ErrorKind kind = clientError ? ErrorKind::Permanent
                               : late      ? ErrorKind::TimedOut
                                           : ErrorKind::Passing;
        return common::makeError(kind, describeFailure(*reply_, url_), status.isValid() ? code : 0);
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != received_) {
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

Fetcher::Fetcher(int transferTimeoutMs) : transferTimeoutMs_(transferTimeoutMs) {}

Fetcher::~Fetcher() = default;

common::Result<std::unique_ptr<Transfer>> Fetcher::download(const QString& urladdy,
                                                            const QString& wheretobmp,
                                                            std::function<void(FetchResult)> done,
                                                            std::function<void()> arrived,
                                                            std::vector<FileBeside> beside)
{
    // Blanks and other characters a URL cannot carry are percent-encoded on the wire.
    const QUrl url(urladdy, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        return common::makeError(ErrorKind::BadInput, invalidAddressText(urladdy));
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager_.get(request);
    // Qt's network thread reads no further ahead than this, so a flood waits in the socket.
    reply->setReadBufferSize(readAheadBytes);
    return std::make_unique<Transfer>(*this, reply, url, wheretobmp, std::move(done),
                                      std::move(arrived), std::move(beside));
}

} // namespace pelagrin
