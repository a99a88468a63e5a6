#pragma once

#include "common/gifcheck.h"
#include "common/httpclient.h"
#include "common/result.h"
#include "common/tilegeometry.h"
#include "pelagrin/curlloop.h"
#include "pelagrin/filewriter.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace pelagrin {

// How one transfer ended: its file and the files beside it written; an error of kind
// NotPlaced when its file is in place but a file beside it could not be written; any other
// error when its file is as it was.
using FetchEnded = std::function<void(const common::Status&)>;

// The most one picture's body may hold; a larger one fails for good.
constexpr qint64 maxPictureBytes = qint64{64} << 20;

class Fetcher;

// What the service said of a picture besides the picture: its credit (the Map-Credit header)
// and the name of its source (Map-Source); each empty when it was not said.
struct PictureTold {
    QString credit;
    QString source;
    QString etag; // the validator it sent (ETag), to ask again with
};

// What a download may ask and hear besides the picture.
struct Asking {
    // A stored copy's validator and time: sent as If-None-Match and If-Modified-Since when set.
    QString etag;
    QDateTime modified;
    // Runs instead of |done| when the service answers 304 (the stored copy is still good); the
    // file is left as it was. Without it, 304 fails as any status outside 2xx.
    std::function<void()> unchanged;
    // Told what the service said of the picture, once the body has arrived whole.
    std::function<void(const PictureTold&)> told;
};

// A small file written beside a fetched one, once that is in place: its bytes, made from what
// the service said of the picture.
struct FileBeside {
    QString path;
    std::function<QByteArray(const PictureTold& told)> bytes;
};

// The georeferencing of a picture at |path| that the service drew at |place|: its world file
// and its GDAL auxiliary file, which keeps the credit and the source too.
std::vector<FileBeside> georeferencing(const QString& path, const common::GeoTransform& place);

// One request in flight: the transfer, the file its body goes to, and whom to tell when it
// ends. Destroying it cancels the request and drops what has arrived, unless the body was whole
// and already on its way into the file.
class Transfer {
public:
    Transfer(Fetcher& fetcher, const QUrl& url, const QString& path, FetchEnded done,
             std::function<void()> arrived, std::vector<FileBeside> beside, QSize picture,
             Asking asking);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

private:
    friend class Fetcher;

    // Asks for the picture; an error when the request cannot be made.
    common::Status start();
    // Takes a piece of the body of an answer with |status|; false ends the transfer (not a
    // picture, or of another size).
    bool take(long status, const char* data, std::size_t size);
    // A redirect is followed: what came is void.
    void restart();
    // The transfer has ended: stores or drops the body.
    void finish(const common::http::Ended& ended);
    // The file is in place, or gone: tells the owner.
    void settled(const common::Status& ended);
    // The service said the stored copy is still good: tells the owner.
    void unchanged();
    std::optional<common::Error> check(const common::http::Ended& ended) const;
    QString describeFailure(const common::http::Ended& ended) const;
    void handOver(); // what arrived so far, to the file writer
    // The body has ended, or never will: the last one ending flushes the writer's group.
    void bodyEnded();

    enum class Body { Picture, NotGif, WrongSize };

    Fetcher& fetcher_;
    FileWriter::Id file_;
    QUrl url_;               // as asked, which names the service in messages
    QSize picture_;          // the size the GIF must have; empty: any
    QByteArrayList pending_; // arrived, not yet handed to the writer
    qsizetype pendingBytes_ = 0;
    common::GifWalker gif_;
    Body body_ = Body::Picture;
    bool receiving_ = true; // the body has not ended yet
    FetchEnded done_;
    std::function<void()> arrived_;
    std::vector<FileBeside> beside_;
    Asking asking_;
    std::unique_ptr<common::http::Transfer> http_; // first to go: no handler runs after
};

// The downloader's only contact with the network. One Fetcher per window, so connections to
// the map service are reused from one request to the next. Nothing here waits: every transfer
// tells its end through a callback from the event loop.
class Fetcher {
public:
    static constexpr int defaultTransferTimeoutMs = 60'000;
    static constexpr qint64 minBytesPerTimeout = 1024;

    // |transferTimeoutMs|: a transfer that receives fewer than minBytesPerTimeout bytes within
    // the last this many milliseconds fails, so that a body that trickles in ends too.
    explicit Fetcher(int transferTimeoutMs = defaultTransferTimeoutMs);
    ~Fetcher();
    Fetcher(const Fetcher&) = delete;
    Fetcher& operator=(const Fetcher&) = delete;

    // Starts fetching |urladdy| into the file |wheretobmp| (relative to the working directory;
    // its folder must exist) and returns at once; a bad-input error when |urladdy| is no HTTP
    // URL. |done| runs once, from the event loop, when
    // the transfer has ended and the file is written, unless the returned Transfer is destroyed
    // first, which cancels it. The body goes to a temporary file while it arrives (on a thread
    // of its own) and takes the file's name only when it is whole and the answer was a 2xx
    // status: after any failure the file is exactly as it was. Failures: the service cannot be
    // reached or cuts the body short (passing), does not answer in time (timed out), answers
    // with a status other than 2xx (4xx permanent, the others passing), or the file cannot be
    // written (permanent).
    //
    // |arrived|, when given, runs as soon as the whole body has arrived with a 2xx status,
    // before it is in the file: the connection is free for the next request then. It must not
    // destroy the Transfer.
    //
    // Files go to the disk in groups (see FileWriter): a stored file waits for others while
    // bodies are still arriving, and no longer once none is.
    //
    // The files |beside| are written, each as a whole, once the body's file is in place and
    // before |done| runs; one that cannot be written fails the transfer (permanently).
    //
    // Only a whole GIF is stored: a body that is not one (cut short, with or without a length
    // announced, or an error page sent as 200), or, when |picture| is given, one whose screen
    // and frames are not of that size, fails as passing; one larger than maxPictureBytes fails
    // for good, each naming its content type and size. The body is never held whole in memory.
    //
    // A redirect is followed when it stays on the same host (from HTTP to HTTPS too, never
    // back), at most common::maxRedirects times; any other fails for good, naming where it pointed.
    // Asks |url| for a picture and tells |done| the name of the source the service drew it
    // from (its Map-Source header): empty when the answer had none or was no picture, as
    // from a service that does not name its sources. The body is dropped as it comes.
    // Destroying the returned transfer cancels it.
    common::Result<std::unique_ptr<common::http::Transfer>>
    askSource(const QString& url, std::function<void(const QString& source)> done);

    common::Result<std::unique_ptr<Transfer>> download(const QString& urladdy,
                                                       const QString& wheretobmp, FetchEnded done,
                                                       std::function<void()> arrived = {},
                                                       std::vector<FileBeside> beside = {},
                                                       QSize picture = {}, Asking asking = {});

private:
    friend class Transfer;

    // A request for a picture at |url|, as every request of the downloader is made.
    common::http::Request pictureRequest(const QUrl& url) const;

    // The HTTP client, run by the window's event loop; its connections are kept between
    // requests.
    std::unique_ptr<CurlLoop> loop_;
    int transferTimeoutMs_;
    FileWriter writer_;
    std::map<FileWriter::Id, Transfer*> live_; // transfers that still want to hear of their file
    int receiving_ = 0;                        // transfers whose body has not ended
};

} // namespace pelagrin
