#include "fetch.h"

#include "atomicfile.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace pelagrin {

namespace {

using common::Failure;

QString cutShortText(const QString& service)
{
    return QStringLiteral("The map service at %1 closed the connection before the image was "
                          "complete.")
        .arg(service);
}

QString describeFailure(const QNetworkReply& reply, const QUrl& url)
{
    const QString service = url.authority();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299) {
            const QString reason =
                reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            return QStringLiteral("The map service at %1 answered with an error (HTTP %2 %3).")
                .arg(service)
                .arg(code)
                .arg(reason)
                .replace(QStringLiteral(" )"), QStringLiteral(")"));
        }
    }
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("The map service at %1 refused the connection. Is it running?")
            .arg(service);
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The map service host %1 was not found.").arg(url.host());
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The map service at %1 did not answer in time.").arg(service);
    case QNetworkReply::RemoteHostClosedError:
        return cutShortText(service);
    default:
        return QStringLiteral("The map image could not be fetched from %1: %2")
            .arg(service, reply.errorString());
    }
}

} // namespace

Transfer::Transfer(QNetworkReply* reply, QUrl url, const QString& path,
                   std::function<void(FetchResult)> done)
    : reply_(reply), url_(std::move(url)), file_(path), done_(std::move(done))
{
    fileOpen_ = file_.open();
    QObject::connect(reply, &QNetworkReply::readyRead, [this] { take(); });
    QObject::connect(reply, &QNetworkReply::finished, [this] { finish(); });
}

Transfer::~Transfer()
{
    reply_->disconnect();
    reply_->abort(); // nothing when it has finished
    reply_.release()->deleteLater();
}

void Transfer::take()
{
    if (!reply_->isOpen()) {
        return; // aborted: nothing to read
    }
    if (body_.isEmpty()) {
        // One allocation for the whole body when its length is announced.
        const qint64 length = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > 0 && length < (qint64{1} << 31)) {
            body_.reserve(length);
        }
    }
    const QByteArray chunk = reply_->readAll();
    body_ += chunk;
    if (fileOpen_) {
        file_.write(chunk);
    }
}

void Transfer::finish()
{
    take();
    FetchResult result;
    result.failure = check();
    if (!result.failure) {
        result.arrived = true;
        result.body = std::move(body_);
        try {
            file_.commit(); // also reports a file that could not be opened
        } catch (const Failure& failure) {
            result.failure = failure;
        }
    } else {
        file_.discard();
    }
    // The owner may destroy this object from |done|: nothing of it is touched afterwards.
    auto done = std::move(done_);
    done(std::move(result));
}

std::optional<Failure> Transfer::check() const
{
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    const bool statusOk = status.isValid() && code >= 200 && code <= 299;
    if (reply_->error() != QNetworkReply::NoError || !statusOk) {
        const bool clientError = status.isValid() && code >= 400 && code <= 499;
        return Failure(describeFailure(*reply_, url_),
                       clientError ? Failure::Kind::Permanent : Failure::Kind::Transient);
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != body_.size()) {
        return Failure(cutShortText(url_.authority()), Failure::Kind::Transient);
    }
    return std::nullopt;
}

Fetcher::Fetcher(int transferTimeoutMs) : transferTimeoutMs_(transferTimeoutMs) {}

Fetcher::~Fetcher() = default;

std::unique_ptr<Transfer> Fetcher::start(const QString& urladdy, const QString& wheretobmp,
                                         std::function<void(FetchResult)> done)
{
    // Blanks and other characters a URL cannot carry are percent-encoded on the wire.
    const QUrl url(urladdy, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        throw Failure(QStringLiteral("The map address \"%1\" is not valid.").arg(urladdy));
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    return std::make_unique<Transfer>(manager_.get(request), url, wheretobmp, std::move(done));
}

void Fetcher::download(const QString& urladdy, const QString& wheretobmp, QByteArray& imagebytes)
{
    std::optional<FetchResult> result;
    QEventLoop loop;
    const auto transfer = start(urladdy, wheretobmp, [&](FetchResult r) {
        result = std::move(r);
        loop.quit();
    });
    if (!result) {
        loop.exec();
    }
    if (!result) {
        // The wait was ended from outside (the program is closing); the transfer is cancelled.
        throw Failure(QStringLiteral("The fetch was interrupted."));
    }
    if (result->arrived) {
        imagebytes = std::move(result->body);
    }
    if (result->failure) {
        throw *result->failure;
    }
}

} // namespace pelagrin
