#include "fakemapservice.h"
#include "fetchwait.h"
#include "gifmaker.h"
#include "loopbackserver.h"
#include "pelagrin/fetch.h"
#include "pelagrin/requesturl.h"
#include "tempworkdir.h"
#include "undersanitizer.h"

#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

using namespace pelagrin;
using testsupport::FakeMapService;
using testsupport::FakeReply;
using testsupport::fetchAndWait;
using testsupport::TempWorkDir;

using testsupport::underSanitizer;

QString requestUrl(const FakeMapService& service, int mode = modePreview)
{
    MapSettings s;
    return generateurl(s, mode, service.address());
}

TEST(Download, StoresTheBodyByteForByte)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(320, 320);
    FakeMapService service(FakeReply::bytes(gif));
    Fetcher fetcher;
    const testsupport::FetchSeen result =
        fetchAndWait(fetcher, requestUrl(service), QStringLiteral("temp.gif"));
    EXPECT_FALSE(result.failure.has_value());
    EXPECT_TRUE(result.stored);
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("temp.gif")), gif);
}

// The files beside a tile are written after it, and one that cannot be written fails the
// transfer for good.
TEST(Start, WritesTheFilesBesideOnlyOnceTheBodyIsInPlace)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(320, 320);
    FakeMapService service(FakeReply::bytes(gif));
    Fetcher fetcher;
    const struct {
        const char* besidePath;
        bool fails;
    } cases[] = {{"beside.gfw", false}, {"no-such-folder/beside.gfw", true}};
    for (const auto& c : cases) {
        std::optional<testsupport::FetchSeen> result;
        QEventLoop loop;
        const auto transfer =
            fetcher.download(requestUrl(service), QStringLiteral("tile.gif"),
                             [&](const common::Status& ended) {
                                 result = testsupport::seen(ended, true);
                                 loop.quit();
                             },
                             {},
                             {{QString::fromLatin1(c.besidePath),
                               [](const pelagrin::PictureTold&) { return QByteArray("world"); }}});
        if (!result) {
            loop.exec();
        }
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(TempWorkDir::read(QStringLiteral("tile.gif")), gif);
        EXPECT_EQ(result->failure.has_value(), c.fails) << c.besidePath;
        if (result->failure) {
            EXPECT_FALSE(result->failure->worthRetry());
        } else {
            EXPECT_EQ(TempWorkDir::read(QString::fromLatin1(c.besidePath)), "world");
        }
    }
}

TEST(Download, BlanksReachTheWirePercentEncoded)
{
    TempWorkDir work;
    FakeMapService service;
    Fetcher fetcher;
    fetchAndWait(fetcher, requestUrl(service), QStringLiteral("temp.gif"));
    ASSERT_EQ(service.requests().size(), 1);
    const QString line = service.requests().front();
    EXPECT_TRUE(line.startsWith(u"GET /pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP=%2047.651931,%209."))
        << line.toStdString();
    EXPECT_EQ(line.count(u' '), 2) << "only the two separators of the request line";
    EXPECT_EQ(service.decodedQueries().front(),
              QStringLiteral("qscr=mrdt&ID=7QbRk.&CenP= 47.651931, 9.476379&Lang=EURO809&Alti= "
                             "50000&Size=320,320&Offs= 0, 0&MapS=0&Pins=|2ccf|"));
}

TEST(Download, SmallBodyAfterLargeLeavesOnlyTheSmallBody)
{
    TempWorkDir work;
    FakeMapService service;
    const QByteArray large = testsupport::makeGif(1999, 1999);
    const QByteArray small = testsupport::makeGif(320, 320, 7);
    service.enqueue(FakeReply::bytes(large));
    service.enqueue(FakeReply::bytes(small));
    Fetcher fetcher;
    fetchAndWait(fetcher, requestUrl(service, modeLarge), QStringLiteral("temp.gif"));
    ASSERT_EQ(QFileInfo(QStringLiteral("temp.gif")).size(), large.size());
    fetchAndWait(fetcher, requestUrl(service), QStringLiteral("temp.gif"));
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("temp.gif")), small);
}

TEST(Download, MissingFolderFailsAfterTheBodyArrived)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(320, 320);
    FakeMapService service(FakeReply::bytes(gif));
    Fetcher fetcher;
    const testsupport::FetchSeen result =
        fetchAndWait(fetcher, requestUrl(service), QStringLiteral("nofolder/x.gif"));
    ASSERT_TRUE(result.failure.has_value()) << "writing into a missing folder must fail";
    EXPECT_NE(result.failure->text.find("nofolder/x.gif"), std::string::npos)
        << result.failure->text;
    EXPECT_FALSE(result.failure->worthRetry());
    EXPECT_TRUE(result.arrived);
    EXPECT_FALSE(result.stored);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("nofolder")));
}

int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const int port = server.serverPort();
    server.close();
    return port;
}

const QSize tileSize(largeSide, largeSide);

QByteArray flatTile()
{
    return testsupport::makeFlatGif(largeSide, largeSide);
}

// A GIF whose trailer and last block terminator are cut off, its last data byte made 0x3B:
// it ends in the trailer's byte, but not as a trailer.
QByteArray gifWithoutTrailer()
{
    QByteArray gif = flatTile();
    gif.chop(2);
    gif.back() = 0x3B;
    return gif;
}

struct FailureCase {
    const char* name;
    FakeReply reply;
    const char* textPart;
    common::ErrorKind kind;
};

class FailedFetch : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailedFetch, ReportsATypedErrorAndLeavesTheFileAlone)
{
    TempWorkDir work;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
    const QString target = QStringLiteral("mymaps/IDA_E_B48!50L11!25Z150.gif");
    TempWorkDir::write(target, "earlier good tile");

    FakeMapService service(GetParam().reply);
    Fetcher fetcher(400); // the transfer time-out, short for the test
    const testsupport::FetchSeen result =
        fetchAndWait(fetcher, requestUrl(service, modeLarge), target, tileSize);
    ASSERT_TRUE(result.failure.has_value()) << "the fetch must fail";
    EXPECT_NE(result.failure->text.find(GetParam().textPart), std::string::npos)
        << result.failure->text;
    EXPECT_EQ(result.failure->kind, GetParam().kind);
    EXPECT_EQ(TempWorkDir::read(target), QByteArray("earlier good tile"));
    EXPECT_FALSE(result.arrived);
    // Hidden files count too: a temporary left behind would be one.
    EXPECT_EQ(
        QDir(QStringLiteral("mymaps")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
        1);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FailedFetch,
    ::testing::Values(
        FailureCase{"NotFound", FakeReply::error(404), "(HTTP 404 Error)",
                    common::ErrorKind::Permanent},
        FailureCase{"ServerError", FakeReply::error(500), "HTTP 500", common::ErrorKind::Passing},
        FailureCase{"CutShort", FakeReply::cutShort(flatTile()), "closed the connection",
                    common::ErrorKind::Passing},
        FailureCase{"NoAnswer", FakeReply::never(), "did not answer in time",
                    common::ErrorKind::TimedOut},
        // Nothing but a whole GIF is stored, whatever the status and length say.
        FailureCase{"HalfWithoutLength", FakeReply::unframedHalf(flatTile()), "no whole GIF image",
                    common::ErrorKind::Passing},
        // A byte every 60 ms keeps no transfer alive: under 1024 bytes in the time-out.
        FailureCase{"Trickle", FakeReply::trickle(flatTile(), 60), "did not answer in time",
                    common::ErrorKind::Passing},
        FailureCase{"OtherSize", FakeReply::flatGif(320, 320), "not the 1999 x 1999 asked for",
                    common::ErrorKind::Passing},
        FailureCase{"RedirectElsewhere", FakeReply::redirect("http://127.0.0.2:9/x"),
                    "another host, http://127.0.0.2,", common::ErrorKind::Permanent},
        FailureCase{"RedirectLoop", FakeReply::redirect("/pub/agent.dll?again"),
                    "more than 5 times", common::ErrorKind::Permanent},
        FailureCase{"RedirectToAnotherScheme", FakeReply::redirect("ftp://127.0.0.1/x"),
                    "another host, ftp://127.0.0.1,", common::ErrorKind::Permanent},
        FailureCase{"HtmlAs200", FakeReply::html(), "17 bytes of text/html",
                    common::ErrorKind::Passing},
        FailureCase{"Empty", FakeReply::bytes({}), "0 bytes", common::ErrorKind::Passing},
        FailureCase{"TrailerMissing", FakeReply::bytes(gifWithoutTrailer()), "no whole GIF image",
                    common::ErrorKind::Passing}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Download, AGigabyteBodyFailsForGoodWithoutFillingTheMemory)
{
    TempWorkDir work;
    // A GIF that goes on: a header, then a comment of a gigabyte, made as it is sent, with no
    // length announced.
    testsupport::LoopbackServer service;
    service.server().Get(".*", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "image/gif", [sent = std::size_t{0}](std::size_t, httplib::DataSink& sink) mutable {
                static const std::string header("GIF89a\x10\0\x10\0\0\0\0\x21\xFE", 15);
                static const std::string chunk = [] {
                    std::string blocks;
                    for (int i = 0; i < 4096; ++i) {
                        blocks += '\xFF' + std::string(255, 'c');
                    }
                    return blocks;
                }();
                if (sent == 0) {
                    sent = header.size();
                    return sink.write(header.data(), header.size());
                }
                if (sent >= std::size_t{1} << 30) {
                    sink.done();
                    return true;
                }
                sent += chunk.size();
                return sink.write(chunk.data(), chunk.size());
            });
    });
    service.start();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    Fetcher fetcher;
    const testsupport::FetchSeen result =
        fetchAndWait(fetcher, QString::fromStdString(service.url() + "/pub/agent.dll?x"),
                     QStringLiteral("t.gif"));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_FALSE(result.failure->worthRetry());
    EXPECT_NE(result.failure->text.find("more than 64 MB of image/gif"), std::string::npos)
        << result.failure->text;
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("t.gif")));
    // Far below the gigabyte; under AddressSanitizer freed buffers wait in its quarantine.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, underSanitizer ? 400 * 1024 : 100 * 1024)
        << "kilobytes";
}

TEST(Download, RefusedConnectionIsATypedError)
{
    TempWorkDir work;
    Fetcher fetcher;
    const QString url = QStringLiteral("http://127.0.0.1:%1/pub/agent.dll?x").arg(closedPort());
    const testsupport::FetchSeen result = fetchAndWait(fetcher, url, QStringLiteral("temp.gif"));
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_TRUE(result.failure->worthRetry());
    EXPECT_FALSE(
        fetcher.download(QStringLiteral("ftp://x/y"), QStringLiteral("temp.gif"), {}).ok());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("temp.gif")));
}

TEST(Download, AProxyNamedByTheEnvironmentIsNotUsed)
{
    TempWorkDir work;
    FakeMapService service;
    const QString refusing = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
    qputenv("http_proxy", refusing.toUtf8());
    qputenv("HTTP_PROXY", refusing.toUtf8());
    Fetcher fetcher;
    const testsupport::FetchSeen result =
        fetchAndWait(fetcher, requestUrl(service), QStringLiteral("t.gif"));
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    EXPECT_FALSE(result.failure.has_value()) << result.failure->text;
    EXPECT_EQ(service.requests().size(), 1);
}

TEST(Download, ARedirectOnTheSameHostIsFollowed)
{
    TempWorkDir work;
    FakeMapService service(FakeReply::flatGif(previewSide, previewSide));
    service.enqueue(FakeReply::redirect("/moved?x"));
    Fetcher fetcher;
    const testsupport::FetchSeen result = fetchAndWait(
        fetcher, requestUrl(service), QStringLiteral("t.gif"), QSize(previewSide, previewSide));
    EXPECT_FALSE(result.failure.has_value()) << result.failure->text;
    ASSERT_EQ(service.requests().size(), 2);
    EXPECT_TRUE(service.requests()[1].startsWith(u"GET /moved?x "))
        << service.requests()[1].toStdString();
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("t.gif")),
              testsupport::makeFlatGif(previewSide, previewSide));
}

TEST(Download, SequentialFetchesReuseOneConnection)
{
    TempWorkDir work;
    FakeMapService service;
    Fetcher fetcher;
    for (int i = 0; i < 4; ++i) {
        fetchAndWait(fetcher, requestUrl(service), QStringLiteral("temp.gif"));
    }
    EXPECT_EQ(service.requests().size(), 4);
    EXPECT_EQ(service.connectionCount(), 1);
}

} // namespace
