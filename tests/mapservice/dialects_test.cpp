// The tile servers' dialects: URL templates with rows from the south, quadkeys, subdomains and
// tiles of 512 pixels.
#include "xyzfixture.h"

namespace {

using namespace mapservice;

struct TemplateCase {
    const char* spec; // after "xyz:" or "tms:"
    bool tms;
    int zoom;
    std::int64_t x, y;
    const char* url;
};

TEST(TileTemplates, PlaceholdersAreFilledFromTheTileNumbers)
{
    for (const TemplateCase& c : {
             TemplateCase{"http://h/{z}/{x}/{y}.png", false, 3, 5, 2, "http://h/3/5/2.png"},
             TemplateCase{"http://h/{z}/{x}/{-y}.png", false, 3, 5, 2, "http://h/3/5/5.png"},
             TemplateCase{"http://h/tiles", true, 3, 5, 2, "http://h/tiles/3/5/5.png"},
             TemplateCase{"http://h/a/{q}.jpeg", false, 3, 3, 5, "http://h/a/213.jpeg"},
             TemplateCase{"http://h/a/{q}.jpeg", false, 0, 0, 0, "http://h/a/.jpeg"},
             TemplateCase{"http://h/{z}/{x}/{y}{r}.png#tilesize=512", false, 1, 1, 0,
                          "http://h/1/1/0@2x.png"},
             TemplateCase{"http://h/{z}/{x}/{y}{r}.png", false, 1, 1, 0, "http://h/1/1/0.png"},
             TemplateCase{"http://{s}.h/{z}/{x}/{y}.png#subdomains=abc", false, 4, 7, 3,
                          "http://b.h/4/7/3.png"},
             TemplateCase{"http://{s}.h/{z}/{x}/{y}.png#subdomains=t1,t2", false, 4, 7, 3,
                          "http://t1.h/4/7/3.png"},
         }) {
        const auto spec = splitSourceParams("a source", c.spec, {"subdomains", "tilesize"});
        ASSERT_TRUE(spec.ok()) << c.spec;
        const auto tiles = xyzTemplate(*spec, c.tms);
        ASSERT_TRUE(tiles.ok()) << c.spec << ": " << tiles.error().text;
        EXPECT_EQ(tileUrl(*tiles, c.zoom, c.x, c.y), c.url) << c.spec;
    }
}

TEST(TileTemplates, TilesOf512PixelsAreTakenOneZoomCoarser)
{
    XyzTemplate small;
    XyzTemplate large;
    large.tileSize = 512;
    for (const double degreesPerPixel : {0.5, 0.001, 1e-5}) {
        const int zoom = templateZoomFor(small, degreesPerPixel, 19);
        EXPECT_EQ(templateZoomFor(large, degreesPerPixel, 19), std::max(0, zoom - 1));
    }
    EXPECT_EQ(templateZoomFor(large, 1e-9, 17), 17) << "the finest zoom caps both";
}

class TileDialects : public testsupport::XyzSource {};

TEST_F(TileDialects, SubdomainsRowsFromTheSouthAnd512PixelTilesDrawInPlace)
{
    tiles.side = 512;
    tiles.delayMs = 20; // so that requests overlap
    // "*.localhost" is the loopback address to libcurl.
    const std::string spec = "xyz:http://{s}.localhost:" + std::to_string(tiles.port()) +
                             "/{z}/{x}/{-y}{r}.png#subdomains=ab&tilesize=512";
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(spec).ok());
    const Answer answer = answerMapRequest(query, table);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(tiles.zooms.load(), 1 << 10) << "256-pixel tiles would be of zoom 11";
    for (const auto& [z, x, y] : tiles.asked()) {
        // 48 degrees north lies in row 355 of 1024 counted from the north.
        EXPECT_NEAR(y, 1023 - 355, 2) << "rows are counted from the south";
    }
    const std::set<std::string> hosts = tiles.hosts();
    EXPECT_EQ(hosts.size(), 2u) << "both subdomains are asked";
    EXPECT_LE(tiles.mostInFlight.load(), 2) << "the subdomains share one connection limit";
    const QImage image = picture(answer);
    const QColor centre = image.pixelColor(200, 200);
    EXPECT_TRUE(centre == QColor(250, 150, 20) || centre == QColor(20, 150, 150))
        << centre.name().toStdString();

    // The same tiles at 256 pixels are refused by their header, both sizes named.
    tiles.side = 256;
    SourceTable other(testShores(), options());
    // Elsewhere, so that no tile is in the cache yet.
    ASSERT_TRUE(other.add(spec).ok());
    const Answer refused =
        answerMapRequest("CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407", other);
    EXPECT_EQ(refused.status, 502);
    EXPECT_NE(refused.body.find("256 x 256 pixels, not 512 x 512"), std::string::npos)
        << refused.body;
}

} // namespace
