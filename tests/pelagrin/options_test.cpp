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
                      OptionsCase{"StrayWord", {"--connections", "2", "extra"}, 0, "\"extra\""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
