// One table of options parses the command line and prints its usage and help.
#include "common/optiontable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using common::options::Option;
using common::options::Refusal;
using common::options::Wording;

struct Taken {
    std::map<std::string, std::string> values;
    std::vector<std::string> operands;
};

std::vector<Option> table(Taken& taken)
{
    const auto keep = [&taken](const char* name) {
        return [&taken, name](const std::string& value) -> Refusal {
            if (value == "bad") {
                return std::string(name) + " refuses bad";
            }
            taken.values[name] += value.empty() ? "set" : value;
            return std::nullopt;
        };
    };
    return {{"--zoom", "Z", "the zoom", keep("--zoom")},
            {"--source", "[CODE=]SPEC", "where from;\nrepeatable", keep("--source"), true},
            {"--log", "", "a switch", keep("--log")},
            {"--help", "", "this text", keep("--help"), false, false}};
}

TEST(OptionTable, TakesValuesBothWaysAndRefusesWhatIsNoOption)
{
    const struct {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> values;
        std::vector<std::string> operands;
        const char* refusal; // nullptr: all taken
    } cases[] = {
        {{"--zoom", "45"}, {{"--zoom", "45"}}, {}, nullptr},
        {{"--zoom=45"}, {{"--zoom", "45"}}, {}, nullptr},
        {{"--zoom="}, {{"--zoom", "set"}}, {}, nullptr}, // an empty value is a value
        {{"--zoom", "--log"}, {{"--zoom", "--log"}}, {}, nullptr},
        {{"--source=a=b", "--source", "c"}, {{"--source", "a=bc"}}, {}, nullptr},
        {{"--log", "out.tif"}, {{"--log", "set"}}, {"out.tif"}, nullptr},
        {{"--zoom"}, {}, {}, "missing --zoom"},
        {{"--log=yes"}, {}, {}, "unknown --log=yes"},
        {{"--zoo", "1"}, {}, {}, "unknown --zoo"},
        {{"--zoom", "bad"}, {}, {}, "--zoom refuses bad"},
        {{"-z"}, {}, {"-z"}, nullptr},
    };
    const Wording wording{[](const std::string& a) { return "unknown " + a; },
                          [](const Option& o) { return "missing " + o.name; }};
    for (const auto& c : cases) {
        Taken taken;
        const Refusal refused = common::options::parse(
            table(taken), c.arguments, wording, [&taken](const std::string& operand) -> Refusal {
                taken.operands.push_back(operand);
                return std::nullopt;
            });
        const std::string line = c.arguments.empty() ? "" : c.arguments.front();
        if (c.refusal != nullptr) {
            EXPECT_EQ(refused.value_or("taken"), c.refusal) << line;
            continue;
        }
        EXPECT_FALSE(refused) << line << ": " << *refused;
        EXPECT_EQ(taken.values, c.values) << line;
        EXPECT_EQ(taken.operands, c.operands) << line;
    }
    Taken taken;
    EXPECT_EQ(common::options::parse(table(taken), {"out.tif"}, wording).value_or("taken"),
              "unknown out.tif")
        << "without a place for operands";
}

TEST(OptionTable, UsageAndHelpComeFromTheTable)
{
    Taken taken;
    EXPECT_EQ(common::options::synopsis(table(taken), 4, 40),
              "[--zoom Z] [--source [CODE=]SPEC]...\n    [--log]");
    EXPECT_EQ(common::options::optionLines(table(taken), 12), "  --zoom Z  the zoom\n"
                                                              "  --source [CODE=]SPEC\n"
                                                              "            where from;\n"
                                                              "            repeatable\n"
                                                              "  --log     a switch\n"
                                                              "  --help    this text\n");
}

TEST(OptionTable, DeclaredValuesAreCheckedAndTheirRangeAndDefaultShown)
{
    using namespace common::options;
    long queue = -1;
    double zoom = -1;
    std::string format;
    const std::vector<Option> typed{
        wholeOption("--queue", "N", "waiting", 0, 10, "3", [&](long n) { queue = n; }),
        wholeOption("--images", "N", "at most", 1, INFINITY, "", [](long) {}),
        decimalOption("--zoom", "Z", "the zoom", 0.001, 3000, "", [&](double z) { zoom = z; }),
        choiceOption("--format", {"png", "jpeg", "webp"}, "tiles", "png",
                     [&](const std::string& f) { format = f; }),
    };
    const struct {
        std::vector<std::string> arguments;
        const char* refusal; // nullptr: taken
    } cases[] = {
        {{"--queue", "10", "--zoom=0.5", "--format", "webp"}, nullptr},
        {{"--queue", "11"}, "--queue takes a whole number from 0 to 10, not \"11\""},
        {{"--queue", "2.5"}, "--queue takes a whole number from 0 to 10, not \"2.5\""},
        {{"--queue", "3 "}, "--queue takes a whole number from 0 to 10, not \"3 \""},
        {{"--images", "0"}, "--images takes a whole number from 1, not \"0\""},
        {{"--zoom", "nan"}, "--zoom takes a number from 0.001 to 3000, not \"nan\""},
        {{"--queue", "0x8"}, "--queue takes a whole number from 0 to 10, not \"0x8\""},
        {{"--zoom", "1e9"}, "--zoom takes a number from 0.001 to 3000, not \"1e9\""},
        {{"--format", "gif"}, "--format takes png, jpeg or webp, not \"gif\""},
    };
    const Wording wording{[](const std::string& a) { return "unknown " + a; }};
    for (const auto& c : cases) {
        const Refusal refused = parse(typed, c.arguments, wording);
        EXPECT_EQ(refused.value_or("taken"), c.refusal != nullptr ? c.refusal : "taken")
            << c.arguments.front();
    }
    EXPECT_EQ(queue, 10);
    EXPECT_EQ(zoom, 0.5);
    EXPECT_EQ(format, "webp");
    EXPECT_EQ(optionLines(typed, 20), "  --queue N         waiting (0 to 10, default 3)\n"
                                      "  --images N        at most (from 1)\n"
                                      "  --zoom Z          the zoom (0.001 to 3000)\n"
                                      "  --format png|jpeg|webp\n"
                                      "                    tiles (default png)\n");
}

} // namespace
