// Every dialect of remote source against real servers on 127.0.0.1: MapProxy in front of
// MapServer on GeoTIFFs of checks 0.1 degrees a side, near 10 E 50 N and on both sides of 180
// degrees near 16.5 S. Each picture must show the checks where they are, within a pixel.
#include "geotiffwriter.h"
#include "mapproxyserver.h"
#include "upstreamfakes.h"

#include <cmath>

namespace {

using namespace mapservice;

// Red and green checks 0.1 degrees a side, numbered from 0 degrees: a check's colour follows
// from where it is.
bool redAt(double lon, double lat)
{
    lon -= 360 * std::floor((lon + 180) / 360);
    return (static_cast<long>(std::floor(lon * 10)) + static_cast<long>(std::floor(lat * 10))) %
               2 ==
           0;
}

bool writeChecks(const std::string& path, double west, double north, int side)
{
    constexpr double pixel = 0.001;
    return testsupport::writeGeotiff(
        path, 4326, west, north, pixel, pixel, side, side, [=](int column, int row) {
            return redAt(west + (column + 0.5) * pixel, north - (row + 0.5) * pixel)
                       ? std::array<std::uint8_t, 3>{200, 40, 20}
                       : std::array<std::uint8_t, 3>{20, 160, 60};
        });
}

struct Place {
    const char* name;
    double lat, lon;
};
constexpr Place europe{"10 E 50 N", 50.03, 10.02};
constexpr Place across180{"180 degrees", -16.47, 180.0};

// The pixels of |image| whose colour is not that of a check within one pixel of where they are
// (the picture spans 0.001 degrees a pixel).
int misplaced(const QImage& image, const Place& place)
{
    constexpr double pixel = 0.001;
    int wrong = 0;
    for (int y = 1; y + 1 < image.height(); ++y) {
        for (int x = 1; x + 1 < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool red = c.red() > c.green();
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy) {
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const double lon = place.lon + (x + dx + 0.5 - image.width() / 2.0) * pixel;
                    const double lat = place.lat - (y + dy + 0.5 - image.height() / 2.0) * pixel;
                    near = redAt(lon, lat) == red;
                }
            }
            wrong += near ? 0 : 1;
        }
    }
    return wrong;
}

class RealServers : public ::testing::Test {
protected:
    // A failed assertion in SetUpTestSuite would make GoogleTest, and so CTest, report the
    // test as skipped: what it finds is checked in SetUp, where a failure fails the test.
    static void SetUpTestSuite()
    {
        folder = new testsupport::TempWorkDir();
        const std::string path = folder->path().toStdString();
        written = writeChecks(path + "/europe.tif", 9.0, 51.0, 2000) &&
                  writeChecks(path + "/east.tif", 179.0, -16.0, 1000) &&
                  writeChecks(path + "/west.tif", -180.0, -16.0, 1000);
        proxy = new testsupport::MapProxyServer(path);
    }
    void SetUp() override
    {
        ASSERT_TRUE(written) << "the GeoTIFFs were not written";
        ASSERT_TRUE(proxy->ready()) << "MapProxy did not start:\n" << proxy->log();
    }
    static void TearDownTestSuite()
    {
        delete proxy;
        delete folder;
    }

    // The picture of |place| from |spec|, 400 x 400 pixels of 0.001 degrees.
    static QImage draw(const std::string& spec, const Place& place, std::string& failure)
    {
        SourceTable table(testShores(),
                          testsupport::onServiceLoop({folder->path().toStdString() + "/cache", 19,
                                                      "mapservice/test", 2048, 30}));
        if (const auto added = table.add(spec); !added) {
            failure = added.error().text;
            return {};
        }
        char query[200];
        std::snprintf(query, sizeof query, "CenP=%.2f,%.2f&Alti=90&Size=400,400&Lang=EUR0407",
                      place.lat, place.lon);
        const Answer answer = answerMapRequest(query, table);
        if (answer.status != 200) {
            failure = std::to_string(answer.status) + " " + answer.body;
            return {};
        }
        return QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                static_cast<int>(answer.body.size()), "GIF");
    }

    static inline testsupport::TempWorkDir* folder = nullptr;
    static inline testsupport::MapProxyServer* proxy = nullptr;
    static inline bool written = false;
};

TEST_F(RealServers, EveryDialectDrawsTheChecksInPlace)
{
    const std::string rest = "wmts:" + proxy->url() + "/wmts/1.0.0/WMTSCapabilities.xml";
    const std::string kvp =
        "wmts:" + proxy->url() + "/service?REQUEST=GetCapabilities&SERVICE=WMTS";
    const std::string wms = "wms:" + proxy->url() + "/service?";
    const struct {
        std::string spec;
        bool across180; // the grid reaches 180 degrees
    } cases[] = {
        {rest, true}, // three tile matrix sets: Web Mercator's is taken
        {kvp, true},
        {rest + "#tilematrixset=webmercator", true},
        {rest + "#layer=checks&tilematrixset=geodetic&style=default&format=image/png", true},
        {rest + "#tilematrixset=utm32", false},
        {kvp + "#tilematrixset=geodetic", true},
        {"tms:" + proxy->url() + "/tiles/1.0.0/checks/webmercator_sw", true},
        {wms + "LAYERS=checks", true},
        {wms + "VERSION=1.3.0&LAYERS=checks", true},
        {wms + "VERSION=1.3.0&CRS=EPSG:3857&LAYERS=checks", false},
    };
    for (const auto& c : cases) {
        for (const Place& place : {europe, across180}) {
            if (&place != &europe && !c.across180) {
                continue;
            }
            std::string failure;
            const QImage image = draw(c.spec, place, failure);
            ASSERT_FALSE(image.isNull()) << c.spec << " at " << place.name << ": " << failure;
            EXPECT_EQ(misplaced(image, place), 0) << c.spec << " at " << place.name;
        }
    }
}

} // namespace
