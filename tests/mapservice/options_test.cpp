#include "mapservice/http/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using mapservice::Options;
using mapservice::parseOptions;
using Arguments = std::vector<std::string>;

TEST(ServiceOptions, LimitsAreReadAndCheckedForRange)
{
    const struct {
        Arguments arguments;
        int headerSeconds;
        int perClient;
        int queue;
        bool log;
    } accepted[] = {
        {{}, 10, 16, 32, false},
        {{"--header-timeout", "1", "--max-per-client", "2", "--queue", "0"}, 1, 2, 0, false},
        {{"--log", "--queue", "500", "--header-timeout", "3600"}, 3600, 16, 500, true},
        {{"--queue=7", "--max-per-client=3"}, 10, 3, 7, false},
    };
    for (const auto& c : accepted) {
        const auto parsed = parseOptions(c.arguments, Options{});
        ASSERT_TRUE(parsed.ok());
        const Options& o = *parsed;
        EXPECT_EQ(o.limits.headerTimeout, std::chrono::seconds(c.headerSeconds));
        EXPECT_EQ(o.limits.maxPerClient, c.perClient);
        EXPECT_EQ(o.limits.queue, c.queue);
        EXPECT_EQ(o.log, c.log);
    }

    const struct {
        Arguments arguments;
        const char* message;
    } refused[] = {
        {{"--header-timeout", "0"}, "bad value for --header-timeout: 0 (1 to 3600)"},
        {{"--max-per-client", "-3"}, "bad value for --max-per-client: -3 (1 to 10000)"},
        {{"--queue", "12x"}, "bad value for --queue: 12x (0 to 10000)"},
        {{"--port", "99999999999999999999"},
         "bad value for --port: 99999999999999999999 (0 to 65535)"},
        {{"--queue"}, "unknown or incomplete option --queue"},
        {{"--log", "now"}, "unknown or incomplete option now"},
        {{"--legend", "EUR0407=some"}, "--legend EUR0407=some: full or none"},
        {{"--max-zoom", "EUR0408=4"},
         "--max-zoom EUR0408=4: EUR0408 is no map code; the codes are EUR0407, USA407, EURO809, "
         "WLD0407, type1 and type2"},
    };
    for (const auto& c : refused) {
        const auto parsed = parseOptions(c.arguments, Options{});
        ASSERT_FALSE(parsed.ok()) << c.message;
        EXPECT_EQ(parsed.error().text, c.message);
        EXPECT_EQ(parsed.error().status, 2);
    }
}

TEST(ServiceOptions, RepeatedSourcesKeepTheirOrderAndDefaultsStand)
{
    Options defaults;
    defaults.data = "/shores";
    defaults.cache = "/cache";
    const auto parsed = parseOptions(
        {"--source", "a.tif", "--source", "type2=b.tif", "--bind", "0.0.0.0", "--port", "0"},
        defaults);
    ASSERT_TRUE(parsed.ok());
    const Options& o = *parsed;
    EXPECT_EQ(o.sources.general.spec, "a.tif");
    EXPECT_EQ(o.sources.byCode.at("WLD0407").spec, "b.tif");
    EXPECT_EQ(o.sources.byCode.count("EUR0407"), 0U);
    EXPECT_EQ(o.bind, "0.0.0.0");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.data, "/shores");
    EXPECT_EQ(o.cache, "/cache");
}

TEST(ServiceOptionsFile, OneOptionALineCommentsAndBlanksSkipped)
{
    const struct {
        const char* text;
        Arguments arguments; // empty with |error| set: refused
        const char* error;
    } cases[] = {
        {"", {}, nullptr},
        {"# only a comment\n\n   \n", {}, nullptr},
        {"--source /data/alps.tif\n--log\n", {"--source", "/data/alps.tif", "--log"}, nullptr},
        {"  --port   8100  # the household's port\r\n", {"--port", "8100"}, nullptr},
        {"--attribution © Alpine Club, 2026\n", {"--attribution", "© Alpine Club, 2026"}, nullptr},
        {"--source xyz:https://t.example/{z}/{x}/{y}.png#frag\n",
         {"--source", "xyz:https://t.example/{z}/{x}/{y}.png#frag"},
         nullptr},
        {"--log\nport 8100\n", {}, "line 2 is no option: port 8100"},
    };
    for (const auto& c : cases) {
        const auto read = mapservice::readOptionsFile(c.text);
        if (c.error == nullptr) {
            ASSERT_TRUE(read.ok()) << c.text;
            EXPECT_EQ(*read, c.arguments) << c.text;
        } else {
            ASSERT_FALSE(read.ok()) << c.text;
            EXPECT_EQ(read.error().text, c.error);
        }
    }
}

TEST(ServiceOptionsFile, TheUsersFileWinsOverTheSystemsAndNeitherIsNeeded)
{
    const std::string root = ::testing::TempDir() + "options-file-test";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/config/mapservice");
    const std::string system = root + "/system-options";
    EXPECT_EQ(mapservice::optionsFilePath(root + "/config", system), "");
    std::ofstream(system) << "--log\n";
    EXPECT_EQ(mapservice::optionsFilePath(root + "/config", system), system);
    std::ofstream(root + "/config/mapservice/options") << "--log\n";
    EXPECT_EQ(mapservice::optionsFilePath(root + "/config", system),
              root + "/config/mapservice/options");
    std::filesystem::remove_all(root);
}

} // namespace
