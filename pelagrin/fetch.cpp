#include "fetch.h"

#include "atomicfile.h"
#include "failure.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <memory>

namespace pelagrin {

namespace {

struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

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
        return QStringLiteral("The map service at %1 closed the connection before the image "
                              "was complete.")
            .arg(service);
    default:
        return QStringLiteral("The map image could not be fetched from %1: %2")
            .arg(service, reply.errorString());
    }
}

} // namespace

Fetcher::Fetcher(int transferTimeoutMs) : transferTimeoutMs_(transferTimeoutMs) {}

void Fetcher::download(const QString& urladdy, const QString& wheretobmp, QByteArray& imagebytes)
{
    // The body goes to the file while it arrives; the file takes its place only when the
    // whole body has come, and stays as it was after any failure.
    common::AtomicFile file(wheretobmp);
    const bool opened = file.open();
    imagebytes = receive(urladdy, opened ? &file : nullptr);
    file.commit(); // also reports a file that could not be opened
}

QByteArray Fetcher::receive(const QString& urladdy, common::AtomicFile* file)
{
    // Blanks and other characters a URL cannot carry are percent-encoded on the wire.
    const QUrl url(urladdy, QUrl::TolerantMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        throw common::Failure(QStringLiteral("The map address \"%1\" is not valid.").arg(urladdy));
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);

    const std::unique_ptr<QNetworkReply, DeleteLater> reply(manager_.get(request));
    QByteArray body;
    const auto take = [&] {
        const QByteArray chunk = reply->readAll();
        body += chunk;
        if (file != nullptr) {
            file->write(chunk);
        }
    };
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!reply->isFinished()) {
        // The wait was ended from outside (the program is closing).
        reply->abort();
        throw common::Failure(QStringLiteral("The fetch was interrupted."));
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    const bool statusOk = status.isValid() && code >= 200 && code <= 299;
    if (reply->error() != QNetworkReply::NoError || !statusOk) {
        const bool clientError = status.isValid() && code >= 400 && code <= 499;
        throw common::Failure(describeFailure(*reply, url),
                              clientError ? common::Failure::Kind::Permanent
                                          : common::Failure::Kind::Transient);
    }
    take();
    return body;
}

} // namespace pelagrin
