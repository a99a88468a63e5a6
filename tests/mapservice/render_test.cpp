#include "geotiffwriter.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/draw/palette.h"
#include "mapservice/draw/quantize.h"
#include "mapservice/draw/render.h"
#include "mapservice/http/answer.h"
#include "mapservice/sources/drawnsource.h"
#include "serviceloop.h"
#include "testshores.h"

#include <QImage>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace mapservice;

const Source& drawn()
{
    static const DrawnSource source(testShores());
    return source;
}

MapRequest request(double lat, double lon, double zoom, int size, const char* code = "EUR0407")
{
    return {{lat, lon}, zoom, size, size, code, {}};
}

TEST(MapPicture, ShorelineDataIsThere)
{
    ASSERT_NE(testShores().crude, nullptr);
    ASSERT_NE(testShores().low, nullptr);
    ASSERT_NE(testShores().intermediate, nullptr);
    ASSERT_NE(testShores().high, nullptr);
    EXPECT_GT(testShores().intermediate->segmentCount(), testShores().crude->segmentCount());
    EXPECT_GT(testShores().high->segmentCount(), testShores().intermediate->segmentCount());
}

TEST(MapPicture, LakesOfARegionTileComeFromTheHighResolution)
{
    // A one-degree region tile south of Munich. The intermediate shorelines cut the northern
    // tip of the Starnberger See off; the high ones have it.
    const MapRequest r = request(47.500001, 11.500001, 45, 1999);
    ShoreData withoutHigh = testShores();
    withoutHigh.high = nullptr;
    const IndexedImage high = render(r, testShores());
    const IndexedImage intermediate = render(r, withoutHigh);
    const Geometry g(r);
    const int x = static_cast<int>(g.x(11.35));
    const int y = static_cast<int>(g.y(47.98));
    EXPECT_EQ(high.at(x, y), lake);
    EXPECT_EQ(intermediate.at(x, y), land);
    EXPECT_EQ(high.at(static_cast<int>(g.x(11.755)), static_cast<int>(g.y(47.71))), lake)
        << "the Tegernsee";
}

TEST(MapPicture, AGifOfTheRequestedSizeThatQtDecodes)
{
    for (const auto& [w, h] : {std::pair{320, 320}, std::pair{1999, 1999}, std::pair{7, 1}}) {
        const auto answer =
            answerMapRequest("CenP=48.5,11.25&Alti=150&Lang=EUR0407&Size=" + std::to_string(w) +
                                 "," + std::to_string(h),
                             drawn());
        ASSERT_EQ(answer.status, 200);
        EXPECT_EQ(answer.contentType, "image/gif");
        const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                              static_cast<int>(answer.body.size()), "GIF");
        EXPECT_EQ(image.size(), QSize(w, h));
    }
}

// A source that refuses, or fails the way a library does.
class FailingSource : public Source {
public:
    explicit FailingSource(bool throws) : throws_(throws) {}
    common::Result<Picture> drawGathered(const MapRequest&, const Gathered*,
                                         const Halt&) const override
    {
        if (throws_) {
            throw std::runtime_error("the library failed");
        }
        return common::passing("the upstream map server answered 500", 502);
    }

private:
    bool throws_;
};

TEST(MapAnswer, EveryFailureBecomesAnAnswerWithAReason)
{
    const std::string query = "CenP=48.5,11.25&Alti=150&Lang=EUR0407&Size=320,320";
    const Answer refused = answerMapRequest(query, FailingSource(false));
    EXPECT_EQ(refused.status, 502);
    EXPECT_EQ(refused.contentType, "text/plain");
    EXPECT_EQ(refused.body, "the upstream map server answered 500\n");
    const Answer thrown = answerMapRequest(query, FailingSource(true));
    EXPECT_EQ(thrown.status, 500);
    EXPECT_EQ(thrown.body, "cannot draw the map: the library failed\n");
    const Answer bad = answerMapRequest("CenP=95,0&Alti=150&Size=320,320", FailingSource(true));
    EXPECT_EQ(bad.status, 400) << "the request is judged before any source is asked";
}

TEST(MapAnswer, AReasonIsOneLineOfPlainText)
{
    const struct {
        std::string text;
        std::string line;
    } cases[] = {
        {"the upstream failed", "the upstream failed"},
        {"GDALWMS: HTTP 404\n  URL: http://t/1/2/3.png\n  Server response: <html><body>Not Found",
         "GDALWMS: HTTP 404 URL: http://t/1/2/3.png Server response"},
        {"tab\there\r\n", "tab here"},
        {std::string(300, 'x'), std::string(199, 'x')},
        {std::string(198, 'x') + "\xc3\xa9z", std::string(198, 'x')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(oneLineReason(c.text), c.line) << c.text;
    }
}

TEST(MapAnswer, AGifKeepsAPaletteOfUpTo256Colours)
{
    for (const int colours : {2, 16, 200, 256}) {
        IndexedImage image(colours, 3, 0);
        std::vector<Rgb> palette;
        for (int i = 0; i < colours; ++i) {
            image.set(i, 1, static_cast<std::uint8_t>(i));
            palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                               static_cast<std::uint8_t>(i / 2)});
        }
        const std::string gif = encodeGif(image, palette);
        const QImage decoded = QImage::fromData(reinterpret_cast<const uchar*>(gif.data()),
                                                static_cast<int>(gif.size()), "GIF");
        ASSERT_EQ(decoded.size(), QSize(colours, 3));
        for (int i = 0; i < colours; ++i) {
            EXPECT_EQ(decoded.pixel(i, 1), qRgb(i, 255 - i, i / 2)) << colours << " " << i;
        }
    }
    EXPECT_THROW(encodeGif(IndexedImage(1, 1, 0), std::vector<Rgb>(257)), std::runtime_error);
}

TEST(MapPicture, StartupPreviewIsComfortablyAbove3000Bytes)
{
    const auto answer = answerMapRequest(
        "CenP=%2047.651931,%209.476379&Lang=EURO809&Alti=%2050000&Size=320,320", drawn());
    ASSERT_EQ(answer.status, 200);
    EXPECT_GT(answer.body.size(), 4500u);
}

TEST(MapPicture, WholeDegreeLineWhereTheGeometryPutsIt)
{
    // A region tile of the downloader: centre 47.000001 / 9.000001, zoom 45, one degree wide.
    const MapRequest r = request(47.000001, 9.000001, 45, 1999);
    const IndexedImage image = render(r, {});
    const Geometry g(r);
    const int x = static_cast<int>(std::floor(g.x(9)));
    const int y = static_cast<int>(std::floor(g.y(47)));
    EXPECT_EQ(x, 999);
    EXPECT_EQ(image.at(x, 1500), graticule);
    EXPECT_EQ(image.at(1500, y), graticule);
    EXPECT_NE(image.at(x + 3, 1500), graticule);
    // One degree shows too few whole-degree lines, so finer ones are drawn: a quarter degree.
    EXPECT_EQ(graticuleFor(g).fine, 0.25);
    EXPECT_EQ(image.at(static_cast<int>(std::floor(g.x(9.25))), 1500), fineGraticule);
}

TEST(MapPicture, ShorelinesAreDrawnWhereTheCoastIs)
{
    // Lake Constance lies around 47.65 / 9.4: its shore must appear on a small map there.
    const IndexedImage image = render(request(47.6, 9.4, 20, 320), testShores());
    const auto lakePixels = std::count(image.pixels.begin(), image.pixels.end(), lakeShore);
    EXPECT_GT(lakePixels, 50);
    // The open Atlantic has none.
    const IndexedImage ocean = render(request(40, -40, 20, 320), testShores());
    EXPECT_EQ(std::count(ocean.pixels.begin(), ocean.pixels.end(), shore), 0);
}

struct FillCase {
    double lat;
    double lon;
    std::uint8_t expected;
};

TEST(MapPicture, LandAndLakesAreFilled)
{
    // A region tile over southern Bavaria, drawn at the intermediate resolution.
    const MapRequest r = request(48.000001, 12.000001, 150, 1999);
    const IndexedImage image = render(r, testShores());
    const Geometry g(r);
    const FillCase cases[] = {
        {48.45, 11.55, land}, // north of Munich
        {47.6, 12.1, land},   // the Alps
        {47.89, 12.45, lake}, // the Chiemsee
        {47.99, 11.12, lake}, // the Ammersee
        {47.9, 11.31, lake},  // the Starnberger See
    };
    for (const FillCase& c : cases) {
        const int x = static_cast<int>(std::floor(g.x(c.lon)));
        const int y = static_cast<int>(std::floor(g.y(c.lat)));
        EXPECT_EQ(image.at(x, y), c.expected) << c.lat << " " << c.lon;
    }
    // The open Atlantic stays sea.
    const IndexedImage ocean = render(request(40, -40, 150, 400), testShores());
    EXPECT_EQ(std::count(ocean.pixels.begin(), ocean.pixels.end(), land), 0);
}

TEST(MapPicture, EachMapTypeHasItsOwnPalette)
{
    EXPECT_NE(paletteFor("EUR0407"), paletteFor("WLD0407"));
    EXPECT_NE(paletteFor("WLD0407")[sea], paletteFor("EUR0407")[sea]);
    EXPECT_EQ(resolutionFor(1111), Resolution::Crude);
    EXPECT_EQ(resolutionFor(10), Resolution::Low);
    EXPECT_EQ(resolutionFor(3.3), Resolution::Intermediate);
    EXPECT_EQ(resolutionFor(1), Resolution::High);
}

TEST(MapPicture, ExtremeZoomsAndCentresFinish)
{
    // Each of these once drew without end or cast huge coordinates to int.
    const char* queries[] = {
        "CenP=0,0&Alti=1e308&Size=4000,4000", "CenP=0,0&Alti=1e12&Size=400,400",
        "CenP=89,0&Alti=1e-300&Size=400,400", "CenP=-90,1e6&Alti=1e6&Size=400,400",
        "CenP=0,0&Alti=1e-320&Size=400,400",  "CenP=90,-1e-300&Alti=5e7&Size=4000,1",
    };
    for (const char* query : queries) {
        const auto answer = answerMapRequest(query, drawn());
        ASSERT_EQ(answer.status, 200) << query;
        EXPECT_FALSE(QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                      static_cast<int>(answer.body.size()), "GIF")
                         .isNull())
            << query;
    }
}

TEST(MapPicture, BeyondThePolesIsMarked)
{
    const IndexedImage image = render(request(89, 0, 2000, 320), {});
    EXPECT_EQ(image.at(160, 0), outsideWorld);
    EXPECT_NE(image.at(160, 319), outsideWorld);
}

} // namespace

namespace {

// A halt that says "stop" from its |after|-th question on, counting the questions.
struct CountingHalt {
    int after = 0;
    int asked = 0;
    Halt halt()
    {
        return [this] { return ++asked > after; };
    }
};

// A picture of more colours than a GIF holds.
RgbImage manyColours(int side)
{
    RgbImage image(side, side, {0, 0, 0});
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            image.at(x, y) = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 99};
        }
    }
    return image;
}

TEST(MapPicture, EveryDrawingStepStopsOnceItsPictureIsNotWanted)
{
    const std::string tif = ::testing::TempDir() + "halt.tif";
    ASSERT_TRUE(testsupport::writeGeotiff(
        tif, 4326, 0, 60, 0.01, 0.01, 2000, 2000, [](int x, int y) -> std::array<std::uint8_t, 3> {
            return {static_cast<std::uint8_t>(x), 50, static_cast<std::uint8_t>(y)};
        }));
    const auto raster = common::gdal::openRaster(tif);
    ASSERT_TRUE(raster.ok());
    const MapRequest europe = request(50, 10, 3000, 1000);
    const Geometry g(request(50, 10, 600, 200)); // one strip of rows
    const RgbImage colours = manyColours(256);
    struct Step {
        const char* name;
        int after; // questions answered "go on" before the halt
        std::function<bool(const Halt&)> stops;
    };
    const std::vector<Step> steps{
        {"the drawn map, between its bins", 3,
         [&](const Halt& h) {
             const auto drawnMap = DrawnSource(testShores()).draw(europe, h);
             return !drawnMap.ok() && drawnMap.error().status == 504;
         }},
        {"GDAL's warp, within a strip", 1,
         [&](const Halt& h) {
             RgbImage out(g.width, g.height, {0, 0, 0});
             return overlayRaster(common::gdal::handle(*raster), "AUTO", g, {0, 0, 0, 0}, 0,
                                  g.height, out, h)
                        .error()
                        .status == 504;
         }},
        {"quantising", 0, [&](const Halt& h) { return quantize(colours, h).palette.size() == 1; }},
        {"GIF encoding, between rows", 1,
         [&](const Halt& h) {
             return encodeGif(IndexedImage(10, 600, 0), std::vector<Rgb>{{1, 2, 3}}, h).empty();
         }},
        {"the answer", 0,
         [&](const Halt& h) { return drawAnswer(europe, drawn(), nullptr, h).status == 504; }},
    };
    for (const Step& step : steps) {
        CountingHalt counting{step.after};
        EXPECT_TRUE(step.stops(counting.halt())) << step.name;
        EXPECT_GT(counting.asked, step.after) << step.name;
    }
}

} // namespace
