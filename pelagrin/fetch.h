#pragma once

#include "atomicfile.h"
#include "failure.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QNetworkReply;

namespace pelagrin {

// What one transfer ended with. |body| is the whole body whenever it arrived, even when the
// file could not be written afterwards.
struct FetchResult {
    std::optional<common::Failure> failure;
    bool arrived = false;
    QByteArray body;
};

// One request in flight: the reply, the temporary file its body goes to, and whom to tell
// when it ends. Destroying it cancels the request and drops what has arrived.
class Transfer {
public:
    Transfer(QNetworkReply* reply, QUrl url, const QString& path,
             std::function<void(FetchResult)> done);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

private:
    void take();
    void finish();
    std::optional<common::Failure> check() const;

    std::unique_ptr<QNetworkReply> reply_; // deleted later: it may be emitting
    QUrl url_;
    common::AtomicFile file_;
    bool fileOpen_ = false;
    QByteArray body_;
    std::function<void(FetchResult)> done_;
};

// The downloader's only contact with the network. One Fetcher per window, so connections to
// the map service are reused from one request to the next.
class Fetcher {
public:
    static constexpr int defaultTransferTimeoutMs = 60'000;

    // |transferTimeoutMs|: a transfer that receives nothing for this long fails.
    explicit Fetcher(int transferTimeoutMs = defaultTransferTimeoutMs);
    ~Fetcher();
    Fetcher(const Fetcher&) = delete;
    Fetcher& operator=(const Fetcher&) = delete;

    // Starts fetching |urladdy| into the file |wheretobmp| (relative to the working directory;
    // its folder must exist) and returns at once. |done| runs once, from the event loop, when
    // the transfer has ended, unless the returned Transfer is destroyed first, which cancels
    // it. The body goes to a temporary file while it arrives and takes the file's name only
    // when it is whole and the answer was a 2xx status: after any failure the file is exactly
    // as it was. Failures: the service cannot be reached, does not answer in time, answers
    // with a status other than 2xx (4xx is permanent, the others transient) or cuts the body
    // short, or the file cannot be written (permanent).
    std::unique_ptr<Transfer> start(const QString& urladdy, const QString& wheretobmp,
                                    std::function<void(FetchResult)> done);

    // The same, waiting for the end: puts the body into |imagebytes| as soon as it has arrived
    // (it is left alone when the fetch fails) and writes it to |wheretobmp|. While it waits it runs
    // a local event loop, so the window stays alive and a button pressed meanwhile runs its handler
    // inside this call. Throws common::Failure.
    void download(const QString& urladdy, const QString& wheretobmp, QByteArray& imagebytes);

private:
    QNetworkAccessManager manager_;
    int transferTimeoutMs_;
};

} // namespace pelagrin
