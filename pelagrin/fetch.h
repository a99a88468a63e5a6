#pragma once

#include "common/gifcheck.h"
#include "common/result.h"
#include "common/tilegeometry.h"
#include "pelagrin/curlloop.h"
#include "pelagrin/filewriter.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <array>
#include <curl/curl.h>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace pelagrin {

// What one transfer ended with: whether the whole picture arrived, and whether its file is in
// place (it may be while a file beside it could not be written).
struct FetchResult {
    std::optional<common::Error> failure;
    bool arrived = false;
    bool stored = false;
};

// The most one picture's body may hold; a larger one fails for good.
constexpr qint64 maxPictureBytes = qint64{64} << 20;

class Fetcher;

// A small file written beside a fetched one, once that is in place: its bytes, made from the
// credit the service sent with the picture (its Map-Credit header, empty when there was none).
struct FileBeside {
    QString path;
    std::function<QByteArray(const QString& credit)> bytes;
};

// The georeferencing of a picture at |path| that the service drew at |place|: its world file
// and its GDAL auxiliary file, which keeps the credit too.
std::vector<FileBeside> georeferencing(const QString& path, const common::GeoTransform& place);

// One request in flight: the transfer, the file its body goes to, and whom to tell when it
// ends. Destroying it cancels the request and drops what has arrived, unless the body was whole
// and already on its way into the file.
class Transfer {
public:
    Transfer(Fetcher& fetcher, const QUrl& url, const QString& path,
             std::function<void(FetchResult)> done, std::function<void()> arrived,
             std::vector<FileBeside> beside, QSize picture);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

private:
    friend class Fetcher;

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    // Takes a piece of the body; false ends the transfer (too large, or not a picture).
    bool take(const char* data, std::size_t size);
    // The transfer has ended with |code|, or with the time-out: stores or drops the body.
    void finish(CURLcode code);
    // The file is in place, or gone after |failure|: tells the owner.
    void settled(std::optional<common::Error> failure, bool stored);
    std::optional<common::Error> check(CURLcode code) const;
    QString describeFailure(CURLcode code) const;
    long status() const;  // the HTTP status, 0 before one came
    void handOver();      // what arrived so far, to the file writer
    void checkActivity(); // fails the transfer when too little came within the time-out
    // Asks the place a redirect names, when it may be followed: true when the transfer goes on.
    bool followRedirect();

    Fetcher& fetcher_;
    FileWriter::Id file_;
    CURL* easy_;
    bool running_ = false;  // in the fetcher's transfers, not yet finished
    QUrl url_;              // as asked, which names the service in messages
    QByteArray encodedUrl_; // libcurl reads it until the transfer ends
    QSize picture_;         // the size the GIF must have; empty: any
    int redirects_ = 0;
    std::optional<common::Error> refusedRedirect_;
    std::array<char, CURL_ERROR_SIZE> error_{};
    QByteArray reason_;      // the reason phrase of the latest status line
    QByteArrayList pending_; // arrived, not yet handed to the writer
    qsizetype pendingBytes_ = 0;
    qint64 received_ = 0; // bytes of the body so far
    common::GifWalker gif_;
    bool tooLarge_ = false;
    bool notGif_ = false;    // what came cannot be the start of a GIF
    bool wrongSize_ = false; // the GIF's screen is not the size asked for
    bool whole_ = false;     // the whole picture came with a 2xx status
    bool timedOut_ = false;  // too little came within the time-out
    // Bytes of headers and bodies so far, and how many there were at the latest ticks of
    // |activity_|, with the milliseconds of |started_| when they were counted.
    qint64 activityBytes_ = 0;
    std::deque<std::pair<qint64, qint64>> samples_;
    QElapsedTimer started_;
    QTimer activity_;
    std::function<void(FetchResult)> done_;
    std::function<void()> arrived_;
    std::vector<FileBeside> beside_;
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
    common::Result<std::unique_ptr<Transfer>>
    download(const QString& urladdy, const QString& wheretobmp,
             std::function<void(FetchResult)> done, std::function<void()> arrived = {},
             std::vector<FileBeside> beside = {}, QSize picture = {});

private:
    friend class Transfer;

    // libcurl's transfers, run by the window's event loop; its connections are kept between
    // requests.
    std::unique_ptr<CurlLoop> loop_;
    int transferTimeoutMs_;
    FileWriter writer_;
    std::map<FileWriter::Id, Transfer*> live_; // transfers that still want to hear of their file
};

} // namespace pelagrin
