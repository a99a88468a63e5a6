#include "common/failure.h"
#include "fakemapservice.h"
#include "gifmaker.h"
#include "pelagrin/fetch.h"
#include "pelagrin/requesturl.h"
#include "tempworkdir.h"

#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;
using testsupport::FakeMapService;
using testsupport::FakeReply;
using testsupport::TempWorkDir;

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
    QByteArray imagebytes;
    fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
    EXPECT_EQ(imagebytes, gif);
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
        std::optional<FetchResult> result;
        QEventLoop loop;
        const auto transfer = fetcher.start(requestUrl(service), QStringLiteral("tile.gif"),
                                            [&](FetchResult r) {
                                                result = std::move(r);
                                                loop.quit();
                                            },
                                            {}, {{QString::fromLatin1(c.besidePath), "world"}});
        if (!result) {
            loop.exec();
        }
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(TempWorkDir::read(QStringLiteral("tile.gif")), gif);
        EXPECT_EQ(result->failure.has_value(), c.fails) << c.besidePath;
        if (result->failure) {
            EXPECT_FALSE(result->failure->transient());
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
    QByteArray imagebytes;
    fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
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
    service.enqueue(FakeReply::bytes({}));
    Fetcher fetcher;
    QByteArray imagebytes;
    fetcher.download(requestUrl(service, modeLarge), QStringLiteral("temp.gif"), imagebytes);
    ASSERT_EQ(QFileInfo(QStringLiteral("temp.gif")).size(), large.size());
    fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("temp.gif")), small);
    // A body of zero bytes leaves a file of zero bytes.
    fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("temp.gif")));
    EXPECT_EQ(QFileInfo(QStringLiteral("temp.gif")).size(), 0);
    EXPECT_TRUE(imagebytes.isEmpty());
}

TEST(Download, MissingFolderFailsAfterTheBodyArrived)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(320, 320);
    FakeMapService service(FakeReply::bytes(gif));
    Fetcher fetcher;
    QByteArray imagebytes = "old";
    try {
        fetcher.download(requestUrl(service), QStringLiteral("nofolder/x.gif"), imagebytes);
        FAIL() << "writing into a missing folder must fail";
    } catch (const common::Failure& failure) {
        EXPECT_TRUE(failure.text().contains(u"nofolder/x.gif")) << failure.what();
    }
    EXPECT_EQ(imagebytes, gif);
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

struct FailureCase {
    const char* name;
    FakeReply reply;
    const char* textPart;
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
    QByteArray imagebytes = "earlier";
    try {
        fetcher.download(requestUrl(service, modeLarge), target, imagebytes);
        FAIL() << "the fetch must fail";
    } catch (const common::Failure& failure) {
        EXPECT_TRUE(failure.text().contains(QString::fromLatin1(GetParam().textPart)))
            << failure.what();
    }
    EXPECT_EQ(TempWorkDir::read(target), QByteArray("earlier good tile"));
    EXPECT_EQ(imagebytes, QByteArray("earlier"));
    // Hidden files count too: a temporary left behind would be one.
    EXPECT_EQ(
        QDir(QStringLiteral("mymaps")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
        1);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FailedFetch,
    ::testing::Values(FailureCase{"NotFound", FakeReply::error(404), "HTTP 404"},
                      FailureCase{"ServerError", FakeReply::error(500), "HTTP 500"},
                      FailureCase{"CutShort", FakeReply::cutShort(QByteArray(50000, 'g')),
                                  "closed the connection"},
                      FailureCase{"NoAnswer", FakeReply::never(), "did not answer in time"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Download, RefusedConnectionIsATypedError)
{
    TempWorkDir work;
    Fetcher fetcher;
    QByteArray imagebytes;
    const QString url = QStringLiteral("http://127.0.0.1:%1/pub/agent.dll?x").arg(closedPort());
    EXPECT_THROW(fetcher.download(url, QStringLiteral("temp.gif"), imagebytes), common::Failure);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("temp.gif")));
}

TEST(Download, ClickDuringASlowFetchRunsInsideTheWait)
{
    TempWorkDir work;
    FakeMapService service(FakeReply::slow(testsupport::makeGif(320, 320), 300));
    Fetcher fetcher;
    bool fetching = false;
    bool clickedWhileFetching = false;
    QPushButton abort(QStringLiteral("Abort Download"));
    QObject::connect(&abort, &QPushButton::clicked, [&] { clickedWhileFetching = fetching; });
    abort.show();
    QTimer::singleShot(50, &abort, [&] { QTest::mouseClick(&abort, Qt::LeftButton); });

    QByteArray imagebytes;
    fetching = true;
    fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
    fetching = false;
    EXPECT_TRUE(clickedWhileFetching);
    EXPECT_EQ(QFileInfo(QStringLiteral("temp.gif")).size(), imagebytes.size());
}

TEST(Download, SequentialFetchesReuseOneConnection)
{
    TempWorkDir work;
    FakeMapService service;
    Fetcher fetcher;
    QByteArray imagebytes;
    for (int i = 0; i < 4; ++i) {
        fetcher.download(requestUrl(service), QStringLiteral("temp.gif"), imagebytes);
    }
    EXPECT_EQ(service.requests().size(), 4);
    EXPECT_EQ(service.connectionCount(), 1);
}

} // namespace
