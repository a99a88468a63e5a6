// The real map service as a process on a free loopback port, with the downloader against it.
#include "buildpaths.h"
#include "common/worldfile.h"
#include "geotiffwriter.h"
#include "pelagrin/fetch.h"
#include "pelagrin/form1.h"
#include "recordingdialogs.h"
#include "serviceprocess.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

class MapServiceProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(service.port(), 0); }
    void TearDown() override
    {
        service.stop();
        EXPECT_TRUE(service.endedWell());
    }

    int status(const QString& pathAndQuery, const QByteArray& method = "GET")
    {
        QNetworkAccessManager manager;
        const QNetworkRequest request(QUrl(QStringLiteral("http://") + address + pathAndQuery));
        QNetworkReply* reply = manager.sendCustomRequest(request, method, QByteArray("x"));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        delete reply;
        return code;
    }

    TempWorkDir work;
    testsupport::ServiceProcess service{testsupport::program("mapservice")};
    const QString address = QStringLiteral("127.0.0.1:%1").arg(service.port());
};

TEST_F(MapServiceProcess, BadRequestsAreAnsweredAndTheServiceGoesOn)
{
    EXPECT_EQ(status(QStringLiteral("/pub/agent.dll?CenP=abc&Alti=1&Size=1,1")), 400);
    EXPECT_EQ(status(QStringLiteral("/pub/agent.dll?CenP=1,1&Alti=1&Size=5000,1")), 400);
    EXPECT_EQ(status(QStringLiteral("/elsewhere")), 404);
    EXPECT_EQ(status(QStringLiteral("/pub/agent.dll"), "POST"), 405);
    EXPECT_EQ(status(QStringLiteral("/pub/agent.dll?CenP=1,1&Alti=1&Size=10,10")), 200);
}

TEST_F(MapServiceProcess, PelagrinStartsAndDownloadsARegion)
{
    testsupport::RecordingDialogs dialogs;
    pelagrin::Form1 form(address, dialogs);
    QSignalSpy ready(&form, &pelagrin::Form1::ready);
    ASSERT_EQ(form.Form_Load(), std::nullopt);
    ASSERT_TRUE(ready.wait(10'000));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'\n').toStdString();
    const auto type = [&](const char* box, const char* text) {
        form.findChild<QLineEdit*>(QString::fromLatin1(box))->setText(QString::fromLatin1(text));
    };
    const auto click = [&](const char* button) {
        QTest::mouseClick(form.findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    };
    form.show();
    type("Text5", "45");
    type("Text1", "48");
    type("Text2", "9");
    click("Command2");
    type("Text2", "10");
    click("Command3");
    click("Command4");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form.activity() == pelagrin::Activity::Idle; }, 30'000));
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Ready.  2 images have been downloaded for you"));
    const QStringList tiles =
        QDir(QStringLiteral("MyMaps")).entryList({"*.gif"}, QDir::Files, QDir::Name);
    ASSERT_EQ(tiles, (QStringList{"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L9!00Z45.gif"}));
    EXPECT_EQ(QImage(QStringLiteral("MyMaps/") + tiles.front()).size(), QSize(1999, 1999));
    // Beside each tile, where it lies: the service drew 48 N 10 E (asked as 48.000001,
    // 10.000001) at zoom 45, a degree wide.
    const auto place = common::readWorldFile(
        TempWorkDir::read(QStringLiteral("MyMaps/IDA_E_B48!00L10!00Z45.gfw")));
    ASSERT_TRUE(place.has_value());
    EXPECT_NEAR((*place)[0], 9.500001, 1e-9);
    EXPECT_NEAR((*place)[3], 48.500001, 1e-9);
    EXPECT_NEAR((*place)[1], 1.0 / 1999, 1e-15);
    // The credit the service sent with the tile: the drawn map's shoreline data.
    EXPECT_TRUE(TempWorkDir::read(QStringLiteral("MyMaps/IDA_E_B48!00L10!00Z45.gif.aux.xml"))
                    .contains("<MDI key=\"attribution\">Shorelines: GSHHG</MDI>"));
}

// The region downloaded again after the service was set up with another source: every tile is
// fetched again, none of the first source is taken for the region's.
TEST(MapServiceSources, ARegionIsFetchedAgainFromTheServicesNewSource)
{
    TempWorkDir work;
    // Regional, so that Pelagrin's start-up picture of half the world stays a map.
    ASSERT_TRUE(
        testsupport::writeGeotiff("red.tif", 4326, 5, 50, 0.01, 0.01, 1000, 400, [](int, int) {
            return std::array<std::uint8_t, 3>{200, 20, 20};
        }));
    const auto download = [](const std::vector<std::string>& arguments) {
        testsupport::ServiceProcess service(testsupport::program("mapservice"), arguments);
        testsupport::RecordingDialogs dialogs;
        pelagrin::Form1 form(QStringLiteral("127.0.0.1:%1").arg(service.port()), dialogs);
        QSignalSpy ready(&form, &pelagrin::Form1::ready);
        EXPECT_EQ(form.Form_Load(), std::nullopt);
        EXPECT_TRUE(!ready.isEmpty() || ready.wait(10'000))
            << dialogs.messages.join(u'|').toStdString();
        for (const auto& [box, text] :
             {std::pair{"Text5", "45"}, std::pair{"Text1", "48"}, std::pair{"Text2", "9"}}) {
            form.findChild<QLineEdit*>(QString::fromLatin1(box))
                ->setText(QString::fromLatin1(text));
        }
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
        form.findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(QStringLiteral("10"));
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return form.activity() == pelagrin::Activity::Idle && !form.checkingSources(); },
            30'000));
        return dialogs.questions.join(u'|') + u'|' + dialogs.messages.last();
    };
    const auto sourceOf = [](const char* tile) {
        return common::readAuxSource(TempWorkDir::read(
            QStringLiteral("MyMaps/IDA_E_B48!00L%1!00Z45.gif.aux.xml").arg(tile)));
    };
    EXPECT_EQ(download({}), QStringLiteral("|Ready.  2 images have been downloaded for you"));
    const QString drawn = sourceOf("10");
    EXPECT_EQ(drawn.size(), 16);
    EXPECT_EQ(download({"--source", "red.tif"}),
              QStringLiteral("|Ready.  2 images have been downloaded for you"))
        << "not asked whether to download tiles of another source again";
    EXPECT_NE(sourceOf("9"), drawn);
    EXPECT_EQ(sourceOf("9"), sourceOf("10"));
}

} // namespace

namespace {

TEST(MapServiceStart, WhatStopsItAtStartIsNamedWithItsReason)
{
    testsupport::TempWorkDir work;
    testsupport::ServiceProcess running(testsupport::program("mapservice"));
    ASSERT_GT(running.port(), 0);
    const std::string taken = std::to_string(running.port());
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::vector<const char*> parts;
    } cases[] = {
        {{"--source", "type2=missing.tif"}, 2, {"--source type2=missing.tif", "cannot be opened"}},
        {{"--port", taken}, 1, {"cannot listen on 127.0.0.1:", "already in use"}},
        {{"--source", "xyz:http://tiles.example/{z}/{x}/{y}.png?key=a b"},
         2,
         {"an xyz: source needs an http:// or https:// URL", "without blanks"}},
        {{"--cache-max-mb", "1", "--source", "type2=missing.tif"},
         2,
         {"--cache-max-mb 1 is below 64: the cache goes over it"}},
    };
    for (const auto& c : cases) {
        const std::string errorFile = (work.path() + QStringLiteral("/errors.txt")).toStdString();
        testsupport::ServiceProcess service(testsupport::program("mapservice"), c.arguments,
                                            errorFile);
        EXPECT_EQ(service.port(), 0) << "it never served";
        service.stop();
        EXPECT_EQ(service.exitCode(), c.exitCode);
        const QString errors = QString::fromLocal8Bit(
            testsupport::TempWorkDir::read(QString::fromStdString(errorFile)));
        for (const char* part : c.parts) {
            EXPECT_TRUE(errors.contains(QString::fromLatin1(part))) << errors.toStdString();
        }
    }
}

} // namespace
