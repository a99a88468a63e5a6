#include "mapservice/protocol/request.h"

#include <gtest/gtest.h>

namespace {

using namespace mapservice;

struct QueryCase {
    const char* query;
    const char* error; // nullptr: served
    double lat;
    double lon;
    double zoom;
    int width;
    int height;
};

class MapQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(MapQuery, ServedOrRefusedWithAReason)
{
    const QueryCase c = GetParam();
    const auto parsed = parseMapRequest(parseQuery(c.query));
    if (c.error != nullptr) {
        ASSERT_FALSE(parsed.ok()) << c.query;
        EXPECT_EQ(parsed.error().status, 400);
        EXPECT_EQ(parsed.error().kind, common::ErrorKind::BadInput);
        EXPECT_NE(parsed.error().text.find(c.error), std::string::npos) << parsed.error().text;
        return;
    }
    ASSERT_TRUE(parsed.ok()) << parsed.error().text;
    const auto& r = *parsed;
    EXPECT_DOUBLE_EQ(r.centre.latitude, c.lat);
    EXPECT_DOUBLE_EQ(r.centre.longitude, c.lon);
    EXPECT_DOUBLE_EQ(r.zoom, c.zoom);
    EXPECT_EQ(r.width, c.width);
    EXPECT_EQ(r.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, MapQuery,
    ::testing::Values(
        // As the downloader sends it, blanks percent-encoded.
        QueryCase{"qscr=mrdt&ID=7QbRk.&CenP=%2047.651931,%209.476379&Lang=EURO809&Alti=%2050000"
                  "&Size=320,320&Offs=%200,%200&MapS=0&Pins=%7C2ccf%7C",
                  nullptr, 47.651931, 9.476379, 50000, 320, 320},
        QueryCase{"CenP= .5,-.25&Alti= 150&Size=1999,1999", nullptr, 0.5, -0.25, 150, 1999, 1999},
        QueryCase{"CenP=-90,180&Alti=0.001&Size=1,4000", nullptr, -90, 180, 0.001, 1, 4000},
        QueryCase{"Size=1,1&Alti=1&CenP=1,2&CenP=3,4", nullptr, 1, 2, 1, 1, 1},
        // Missing or malformed keys.
        QueryCase{"Alti=150&Size=320,320", "CenP", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48.5&Alti=150&Size=320,320", "CenP", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48.5,11x&Alti=150&Size=320,320", "CenP", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Size=320,320", "Alti", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=abc&Size=320,320", "Alti", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150", "Size", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150&Size=320", "Size", 0, 0, 0, 0, 0},
        // Limits.
        QueryCase{"CenP=90.5,11&Alti=150&Size=320,320", "latitude", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=0&Size=320,320", "greater than 0", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=-5&Size=320,320", "greater than 0", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=inf&Size=320,320", "Alti", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150&Size=0,320", "1 to 4000", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150&Size=4001,1", "1 to 4000", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150&Size=320.5,320", "1 to 4000", 0, 0, 0, 0, 0},
        QueryCase{"CenP=48,11&Alti=150&Size=99999999999999999999,1", "1 to 4000", 0, 0, 0, 0, 0},
        QueryCase{"CenP=0,-1000000&Alti=1&Size=9,9", nullptr, 0, -1e6, 1, 9, 9},
        QueryCase{"CenP=0,1e308&Alti=1&Size=9,9", "longitude", 0, 0, 0, 0, 0},
        QueryCase{"CenP=0,1000000.5&Alti=1&Size=9,9", "longitude", 0, 0, 0, 0, 0},
        QueryCase{"CenP=0,nan&Alti=1&Size=9,9", "CenP", 0, 0, 0, 0, 0}));

TEST(RequestLine, AbsoluteTargetsAndTheFramingOfABody)
{
    const struct {
        const char* target;
        const char* path;
    } targets[] = {
        {"/pub/agent.dll?CenP=1,2", "/pub/agent.dll?CenP=1,2"},
        {"http://127.0.0.1:8047/pub/agent.dll?CenP=1,2", "/pub/agent.dll?CenP=1,2"},
        {"HTTPS://maps.example/pub/agent.dll", "/pub/agent.dll"},
        {"http://maps.example", "/"},
        {"http://maps.example?x", ""},
        {"*", "*"},
    };
    for (const auto& t : targets) {
        EXPECT_EQ(originForm(t.target), t.path) << t.target;
    }
    const struct {
        const char* field;
        bool chunkedLast;
    } codings[] = {{"chunked", true},  {"gzip, Chunked", true},  {" gzip ,chunked ,", true},
                   {"gzip", false},    {"chunked, gzip", false}, {"", false},
                   {"chunkedx", false}};
    for (const auto& c : codings) {
        EXPECT_EQ(lastCodingIsChunked(c.field), c.chunkedLast) << c.field;
    }
}

TEST(MapQuery, PercentDecodingLeavesBrokenEscapesAlone)
{
    const auto keys = parseQuery("a=%41%2&b=%zz&=x&c");
    EXPECT_EQ(keys.at("a"), "A%2");
    EXPECT_EQ(keys.at("b"), "%zz");
    EXPECT_EQ(keys.at("c"), "");
}

} // namespace
