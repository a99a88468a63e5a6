// The downloader program asked to use another map service: its start-up check goes there, and
// a bad address ends it before any window with the reason and the usage line.
#include "buildpaths.h"
#include "fakemapservice.h"
#include "tempworkdir.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QProcessEnvironment offscreen()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

TEST(ServiceOption, TheStartUpCheckAsksTheChosenService)
{
    testsupport::TempWorkDir work;
    testsupport::FakeMapService service;
    QProcess pelagrin;
    pelagrin.setProcessEnvironment(offscreen());
    pelagrin.start(QString::fromStdString(testsupport::program("pelagrin")),
                   {QStringLiteral("--service"), service.address()});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !service.requests().empty(); }, 20'000));
    EXPECT_TRUE(service.decodedQueries().value(0).contains(u"&Size=320,320"));
    pelagrin.kill();
    pelagrin.waitForFinished(5'000);
}

TEST(ServiceOption, ABadAddressEndsBeforeAnyWindow)
{
    QProcess pelagrin;
    pelagrin.setProcessEnvironment(offscreen());
    pelagrin.start(QString::fromStdString(testsupport::program("pelagrin")),
                   {QStringLiteral("--service"), QStringLiteral("http://maps.example.org")});
    ASSERT_TRUE(pelagrin.waitForFinished(20'000));
    EXPECT_EQ(pelagrin.exitCode(), 2);
    const QString error = QString::fromUtf8(pelagrin.readAllStandardError());
    EXPECT_TRUE(error.contains(u"has a scheme")) << error.toStdString();
    EXPECT_TRUE(error.contains(u"usage: pelagrin")) << error.toStdString();
}

} // namespace
