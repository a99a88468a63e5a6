// The parts of fetching from upstream servers that need no tile server: reading a transfer's
// outcome and an answer's lifetime, laying out pixels, the tile grid and zoom, and the access
// log of a slow reader. The cache's own tests are in tilecache_test.cpp.
#include "geotiffwriter.h"
#include "leftovers.h"
#include "mapservice/network/upstreampixels.h"
#include "tempworkdir.h"
#include "upstreamfakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace mapservice;
using testsupport::png;
using testsupport::RunningServer;
using testsupport::TileServer;
using testsupport::waitFor;

TEST(MapServiceLog, AReaderCutOffAtItsDeadlineIsLoggedWithWhatItGot)
{
    // Noise, so that the picture's GIF is larger than every buffer between the two ends.
    testsupport::TempWorkDir work;
    const std::string noise = work.path().toStdString() + "/noise.tif";
    ASSERT_TRUE(
        testsupport::writeGeotiff(noise, 4326, 99, 11, 0.001, 0.001, 2000, 2000, [](int x, int y) {
            const auto v = static_cast<std::uint32_t>((x * 2654435761u) ^ (y * 40503u));
            return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(v >> 8),
                                               static_cast<std::uint8_t>(v >> 16),
                                               static_cast<std::uint8_t>(v >> 24)};
        }));
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(noise).ok());
    std::mutex mutex;
    std::vector<AccessRecord> records;
    ServerLimits limits;
    limits.writeTimeout = std::chrono::milliseconds(500);
    const RunningServer service(table, limits, [&](const AccessRecord& record) {
        const std::lock_guard lock(mutex);
        records.push_back(record);
    });
    // A client with a tiny window that reads nothing: the picture cannot get out.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(service.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /pub/agent.dll?CenP=10,100&Alti=45&Size=4000,4000"
                                "&Lang=WLD0407 HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    waitFor([&] {
        const std::lock_guard lock(mutex);
        return !records.empty();
    });
    ::close(fd);
    std::unique_lock lock(mutex);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.front().status, 200);
    const std::size_t cut = records.front().bodyBytes;
    lock.unlock();
    // The whole picture, as a reader that keeps up gets it.
    httplib::Client reader("127.0.0.1", service.port());
    reader.set_read_timeout(std::chrono::seconds(60)); // drawing it takes seconds on busy cores
    const auto whole = reader.Get("/pub/agent.dll?CenP=10,100&Alti=45&Size=4000,4000&Lang=WLD0407");
    ASSERT_TRUE(whole);
    EXPECT_LT(cut, whole->body.size()) << "only what reached the client";
}

struct OutcomeCase {
    common::http::Failure failure;
    long status;
    int answerStatus; // 0: a body, -1: nothing there
    const char* reason;
};

TEST(Upstream, EachTransferEndsAsABodyNothingOrANamedFailure)
{
    using common::http::Failure;
    const OutcomeCase cases[] = {
        {Failure::None, 200, 0, ""},
        {Failure::None, 404, -1, ""},
        {Failure::None, 204, -1, ""},
        {Failure::None, 503, 502, "upstream t.example: status 503 for tile 3/1/2"},
        {Failure::RedirectWithoutPlace, 302, 502, "tile 3/1/2 was redirected without a place"},
        {Failure::TooLarge, 200, 502, "tile 3/1/2 is larger than 16 MB"},
        {Failure::TimedOut, 0, 504, "no answer in time for tile 3/1/2"},
        {Failure::TimedOut, 200, 504, "no answer in time for tile 3/1/2"},
        {Failure::Refused, 0, 502, "upstream t.example: refused (tile 3/1/2)"},
        {Failure::HeaderTooLarge, 0, 502, "header too large (tile 3/1/2)"},
    };
    for (const OutcomeCase& c : cases) {
        common::http::Ended ended;
        ended.failure = c.failure;
        ended.status = c.status;
        ended.message = "refused";
        const common::Status f =
            transferOutcome(ended, "t.example", "tile 3/1/2", std::int64_t{16} << 20);
        SCOPED_TRACE(c.reason);
        if (c.answerStatus > 0) {
            ASSERT_FALSE(f);
            EXPECT_EQ(f.error().status, c.answerStatus);
            EXPECT_NE(f.error().text.find(c.reason), std::string::npos) << f.error().text;
        } else if (c.answerStatus == 0) {
            EXPECT_TRUE(f.ok()) << f.error().text;
        } else {
            ASSERT_FALSE(f.ok());
            EXPECT_EQ(f.error().kind, common::ErrorKind::NotFound) << "nothing there, no failure";
        }
    }
}

// How long an answer is kept, as its headers say; an age past a year counts as a year, and a
// 304 renews the record under the tag the body was stored with.
TEST(UpstreamAnswer, IsKeptAsItsHeadersSayForAYearAtMost)
{
    const std::time_t now = 1'700'000'000;
    const std::time_t year = std::time_t{365} * 24 * 3600;
    const std::time_t week = std::time_t{7} * 24 * 3600;
    const struct {
        const char* cacheControl;
        std::time_t expires;
        bool store;
    } cases[] = {
        {"max-age=60", now + 60, true},
        {"public, s-maxage=10, max-age=60", now + 10, true},
        {"max-age=9223372036854775807", now + year, true},
        {"max-age=99999999999999999999", now + year, true},
        {"max-age=-5", now, true},
        {"no-store", now + week, false},
        {"", now + week, true},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> headers{{"ETag", "\"b\""}};
        if (*c.cacheControl != '\0') {
            headers["Cache-Control"] = c.cacheControl;
        }
        const Keeping keeping = keepingOf(headers, now, week);
        EXPECT_EQ(keeping.record.expires, c.expires) << c.cacheControl;
        EXPECT_EQ(keeping.store, c.store) << c.cacheControl;
    }

    testsupport::TempWorkDir work;
    TileCache cache(
        (work.path() + QStringLiteral("/cache")).toStdString(),
        {std::uint64_t{1} << 30, week, std::chrono::seconds(600), std::chrono::seconds(3600)});
    const auto temporary = cache.temporaryFor("k");
    ASSERT_TRUE(temporary);
    ASSERT_TRUE((*temporary)->write("body", 4));
    ASSERT_TRUE(cache.store("k", **temporary, TileCache::Record{now, false, "\"a\"", {}}).ok());
    const auto stale = cache.lookup("k");
    ASSERT_TRUE(stale);
    common::http::Ended unchanged;
    unchanged.status = 304;
    unchanged.headers = {{"ETag", "\"b\""}, {"Cache-Control", "max-age=60"}};
    ASSERT_TRUE(staleAnswer(cache, "k", *stale, unchanged, {}, "tile", week, std::time(nullptr)));
    EXPECT_EQ(cache.lookup("k")->record->etag, "\"a\"") << "the tag of the body kept";
}

// An answer that no reader decodes, or that is larger than any tile, is named for what it is.
TEST(UpstreamPixels, WhatCannotBeLaidOutIsNamed)
{
    common::gdal::setUp({});
    testsupport::TempWorkDir work;
    QImage wide(4097, 1, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(QStringLiteral("wide.png")));
    testsupport::TempWorkDir::write(QStringLiteral("garbage.gif"),
                                    QByteArray("GIF89a") + QByteArray(64, char(0xff)));
    for (const auto& [file, reason] :
         {std::pair{"garbage.gif", "tile 1/2/3 does not decode as a picture"},
          std::pair{"wide.png", "tile 1/2/3 is a picture of 4097 x 1 pixels, more than 4096"}}) {
        const auto decoded = decodeRgba(file, 0, 0, 0, 256, 256, "tile 1/2/3");
        ASSERT_FALSE(decoded.ok()) << file;
        EXPECT_EQ(decoded.error().text.rfind(reason, 0), 0u) << decoded.error().text;
    }
}

struct CoverCase {
    const char* name;
    double latitude, longitude, mapZoom; // of a picture of 1999 x 1999 pixels
    int zoom;
    std::int64_t west, east, north, south;
};

TEST(TileGrid, CoveringTilesRunOnAcross180AndStopAtTheGridsEdges)
{
    const CoverCase cases[] = {
        {"1 degree at 179.9 E", -17, 179.9, 45, 12, 4088, 4101, 2237, 2251},
        {"720 degrees at 0: one world and a column", 0, 0, 45 * 720, 2, 0, 4, 0, 3},
        {"beyond 85 N", 89, 0, 45, 12, 0, -1, 0, -1},
    };
    for (const CoverCase& c : cases) {
        SCOPED_TRACE(c.name);
        MapRequest request;
        request.centre = {.latitude = c.latitude, .longitude = c.longitude};
        request.zoom = c.mapZoom;
        request.width = request.height = 1999;
        const Geometry g(request);
        const TileRange r = coveringTiles(g, tileZoomFor(g.degreesPerPixel, 19));
        if (c.east < c.west) {
            EXPECT_TRUE(r.empty());
            continue;
        }
        EXPECT_EQ(r.zoom, c.zoom);
        EXPECT_EQ(std::make_tuple(r.west, r.east, r.north, r.south),
                  std::make_tuple(c.west, c.east, c.north, c.south));
    }
    EXPECT_EQ(wrapColumn(4100, 12), 4);
    EXPECT_EQ(wrapColumn(-1, 12), 4095);
}

struct ZoomCase {
    double degreesPerPixel;
    int finest;
    int zoom;
};

TEST(TileZoom, CoarsestWhosePixelsAreNoLargerThanThePicturesCappedByTheFinest)
{
    const double zoom8 = 360.0 / 256 / 256; // a pixel of zoom 8, in degrees of longitude
    const ZoomCase cases[] = {
        {zoom8, 19, 8}, {zoom8 * 1.01, 19, 8}, {zoom8 * 0.99, 19, 9}, {0.001, 19, 11},
        {1e-9, 19, 19}, {1e-9, 15, 15},        {400, 19, 0}, // a picture of the whole world in a
                                                             // few pixels
    };
    for (const ZoomCase& c : cases) {
        EXPECT_EQ(tileZoomFor(c.degreesPerPixel, c.finest), c.zoom) << c.degreesPerPixel;
    }
}

} // namespace
