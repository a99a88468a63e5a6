#include "pelagrin/estimate.h"
#include "pelagrin/messages.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;
using namespace std::chrono_literals;

struct EstimateCase {
    const char* name;
    EstimateBasis basis;
    Estimate::From from;
    std::optional<double> bytes;
    std::optional<double> seconds;
};

class Estimates : public ::testing::TestWithParam<EstimateCase> {};

// Ten tiles to fetch; the first source known is taken.
TEST_P(Estimates, TakeTheFirstSourceKnown)
{
    const auto& c = GetParam();
    const Estimate e = estimateDownload(10, c.basis);
    EXPECT_EQ(e.from, c.from);
    EXPECT_EQ(e.bytes, c.bytes);
    EXPECT_EQ(e.seconds, c.seconds);
}

const double tilePixels = 1999.0 * 1999.0;

INSTANTIATE_TEST_SUITE_P(
    Sources, Estimates,
    ::testing::Values(
        EstimateCase{"stored_median",
                     {{100, 300, 200}, {5}, 0.5, 1000, 10},
                     Estimate::From::Stored,
                     2000,
                     2},
        EstimateCase{"stored_even_count",
                     {{100, 400, 200, 300}, {}, {}, {}, 50},
                     Estimate::From::Stored,
                     2500,
                     50},
        EstimateCase{
            "last_fetched", {{}, {40, 60, 50}, 0.5, {}, 100}, Estimate::From::LastFetched, 500, 5},
        EstimateCase{
            "preview", {{}, {}, 0.25, {}, {}}, Estimate::From::Preview, 10 * 0.25 * tilePixels, {}},
        EstimateCase{"nothing", {}, Estimate::From::Nothing, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RateMeter, TakesTheLastMinuteOfDownloadsFromTheRunOrTheMinuteBefore)
{
    RateMeter meter;
    const RateMeter::Time t0{};
    EXPECT_FALSE(meter.bytesPerSecond());
    meter.started(t0);
    meter.arrived(t0 + 10s, 1000);
    meter.arrived(t0 + 20s, 1000);
    EXPECT_DOUBLE_EQ(*meter.bytesPerSecond(), 100); // 2000 bytes in the 20 s since the start
    meter.arrived(t0 + 100s, 3000);                 // the first two are past the minute
    EXPECT_DOUBLE_EQ(*meter.bytesPerSecond(), 50);
}

TEST(RegionLine, TellsTilesSizeAndTime)
{
    EXPECT_EQ(regionLineText(4, 3, 12, 2, 12.34e6, 90),
              "4 x 3 = 12 tiles, 2 already stored; about 12 MB and about 2 min to download");
    EXPECT_EQ(regionLineText(4, 3, 9, 0, 3.46e6, {}),
              "4 x 3 = 9 tiles, 0 already stored; about 3.5 MB to download");
    EXPECT_EQ(regionLineText(1, 1, 1, 1, {}, {}), "1 x 1 = 1 tiles, 1 already stored");
    EXPECT_EQ(estimateAfterText(2.5e6, 31e6), "estimate was 2.5 MB, fetched 31 MB");
}

} // namespace
