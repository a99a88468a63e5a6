// The real map service as a process on a free loopback port, with the downloader against it.
#include "common/failure.h"
#include "pelagrin/fetch.h"
#include "pelagrin/form1.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QDir>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

class MapServiceProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        service.setProgram(QStringLiteral(MAPSERVICE_BIN));
        service.setArguments({QStringLiteral("--port"), QStringLiteral("0")});
        service.start();
        ASSERT_TRUE(service.waitForStarted(5000));
        QByteArray out;
        const QRegularExpression serving(QStringLiteral("http://(127\\.0\\.0\\.1:\\d+)/"));
        for (int i = 0; i < 50 && !serving.match(QString::fromLatin1(out)).hasMatch(); ++i) {
            service.waitForReadyRead(100);
            out += service.readAllStandardOutput();
        }
        address = serving.match(QString::fromLatin1(out)).captured(1);
        ASSERT_FALSE(address.isEmpty()) << out.toStdString();
    }
    void TearDown() override
    {
        service.terminate();
        EXPECT_TRUE(service.waitForFinished(5000));
        EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(service.exitCode(), 0);
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
    QProcess service;
    QString address;
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
    ASSERT_EQ(form.Form_Load(), std::nullopt);
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
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Ready.  2 images have been downloaded for you"));
    const QStringList tiles = QDir(QStringLiteral("MyMaps")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(tiles, (QStringList{"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L9!00Z45.gif"}));
    EXPECT_EQ(QImage(QStringLiteral("MyMaps/") + tiles.front()).size(), QSize(1999, 1999));
}

} // namespace

namespace {

TEST(MapServiceStart, ASourceThatCannotBeOpenedStopsItNamingTheSource)
{
    testsupport::TempWorkDir work;
    QProcess service;
    service.start(QStringLiteral(MAPSERVICE_BIN),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--source"),
                   QStringLiteral("type2=missing.tif")});
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 2);
    const QString errors = QString::fromLocal8Bit(service.readAllStandardError());
    EXPECT_TRUE(errors.contains(u"--source type2=missing.tif")) << errors.toStdString();
    EXPECT_TRUE(errors.contains(u"cannot be opened")) << errors.toStdString();
    EXPECT_TRUE(service.readAllStandardOutput().isEmpty()) << "it never served";
}

} // namespace
