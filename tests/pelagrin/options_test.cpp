#include "pelagrin/options.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

struct OptionsCase {
    const char* name;
    QStringList arguments;
    int connections; // 0: refused with the usage line
    const char* reasonPart;
};

class CommandLine : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(CommandLine, TakesOneToSixConnectionsAndRefusesTheRest)
{
    const auto parsed = parseArguments(GetParam().arguments);
    if (GetParam().connections > 0) {
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(parsed->connections, GetParam().connections);
        return;
    }
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().status, 2);
    const QString text = QString::fromStdString(parsed.error().text);
    EXPECT_EQ(hasSingleDashArgument(GetParam().arguments),
              GetParam().arguments.contains(u"-style"));
    EXPECT_TRUE(text.endsWith(usageText)) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLatin1(GetParam().reasonPart))) << text.toStdString();
}

TEST(CommandLineRoute, TakesTheRouteItsWidthZoomAndRefreshAge)
{
    const auto parsed = parseArguments(
        {"--route", "trip.gpx", "--width", "5", "--zoom=22.5", "--refresh-days", "7"});
    ASSERT_TRUE(parsed.ok()) << parsed.error().text;
    EXPECT_EQ(parsed->route, u"trip.gpx");
    EXPECT_EQ(parsed->routeWidthKm, 5);
    EXPECT_EQ(parsed->zoom, 22.5);
    EXPECT_EQ(parsed->refreshDays, 7);
    EXPECT_FALSE(parseArguments({})->zoom) << "45 only with a route";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(OptionsCase{"None", {}, 2, ""},
                      OptionsCase{"One", {"--connections", "1"}, 1, ""},
                      OptionsCase{"SixWithEquals", {"--connections=6"}, 6, ""},
                      OptionsCase{"HelpIsAnsweredBefore", {"--help"}, 0, "unknown argument"},
                      OptionsCase{"Zero", {"--connections", "0"}, 0, "not \"0\""},
                      OptionsCase{"Seven", {"--connections=7"}, 0, "not \"7\""},
                      OptionsCase{"Text", {"--connections", "two"}, 0, "not \"two\""},
                      OptionsCase{"Missing", {"--connections"}, 0, "needs a number"},
                      OptionsCase{"Unknown", {"--fast"}, 0, "unknown argument \"--fast\""},
                      OptionsCase{"QtsOwn", {"-style", "fusion"}, 0, "unknown argument \"-style\""},
                      OptionsCase{"StrayWord", {"--connections", "2", "extra"}, 0, "\"extra\""},
                      OptionsCase{"NarrowRoute", {"--width", "0.05"}, 0, "from 0.1 to 100, not"},
                      OptionsCase{"WideRoute", {"--width=101"}, 0, "from 0.1 to 100, not"},
                      OptionsCase{"ZoomZero", {"--zoom", "0"}, 0, "--zoom takes a number"},
                      OptionsCase{"ZoomHigh", {"--zoom", "3001"}, 0, "--zoom takes a number"},
                      OptionsCase{"NoDays", {"--refresh-days", "0"}, 0, "a whole number"},
                      OptionsCase{"HalfDays", {"--refresh-days", "1.5"}, 0, "a whole number"},
                      OptionsCase{"NoRoute", {"--route"}, 0, "--route needs a file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceAddress, HostAndPortOrTheReasonWithTheUsageLine)
{
    struct Case {
        const char* given;
        const char* address; // nullptr: refused
    };
    for (const Case& c : {
             Case{"maps.example.org", "maps.example.org:8047"},
             Case{"10.0.0.2:80", "10.0.0.2:80"},
             Case{"[::1]", "[::1]:8047"},
             Case{"[2001:db8::5]:65535", "[2001:db8::5]:65535"},
             Case{"http://maps.example.org", nullptr},
             Case{"::1", nullptr},
             Case{"[::1", nullptr},
             Case{"[10.0.0.1]", nullptr},
             Case{"host:0", nullptr},
             Case{"host:65536", nullptr},
             Case{"host:", nullptr},
             Case{"host:80x", nullptr},
             Case{"999.1.1.1", nullptr},
             Case{"-bad.example", nullptr},
             Case{"", nullptr},
             // Zero-led parts would be read as octal: 127.0.0.8.
             Case{"127.000.000.010:18300", nullptr},
             Case{"127.0.0.01", nullptr},
             Case{"127.0.0.0", "127.0.0.0:8047"},
             // "$" matched before a final line break.
             Case{"127.0.0.1\n:18300", nullptr},
             Case{"127.0.0.1:18300\n", nullptr},
             Case{"maps.example.org\n", nullptr},
             Case{"host :80", nullptr},
         }) {
        SCOPED_TRACE(c.given);
        const auto parsed =
            parseArguments({QStringLiteral("--service"), QString::fromUtf8(c.given)});
        if (c.address != nullptr) {
            ASSERT_TRUE(parsed.ok()) << parsed.error().text;
            EXPECT_EQ(parsed->service, QString::fromLatin1(c.address));
            continue;
        }
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error().status, 2);
        const QString text = QString::fromStdString(parsed.error().text);
        EXPECT_TRUE(text.endsWith(usageText));
        EXPECT_EQ(text.count(u'\n'), usageText.count(u'\n') + 1) << "one line of reason";
    }
    EXPECT_TRUE(parseArguments({QStringLiteral("--service=host:81")}).ok());
    EXPECT_FALSE(parseArguments({QStringLiteral("--service")}).ok());
}

} // namespace
