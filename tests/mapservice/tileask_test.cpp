#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/tileask.h"

#include <gtest/gtest.h>

namespace {

using namespace mapservice;

TEST(TileAsk, PathsNameTilesOrNothing)
{
    const struct {
        const char* path;
        bool tile;
        int z;
        std::int64_t x, y;
        int scale;
        TileFormat format;
    } cases[] = {
        {"EUR0407/0/0/0.png", true, 0, 0, 0, 1, TileFormat::Png},
        {"WLD0407/24/16777215/3.jpg", true, 24, 16777215, 3, 1, TileFormat::Jpeg},
        {"USA407/3/7/7@2x.webp", true, 3, 7, 7, 2, TileFormat::Webp},
        {"EUR0407/3/8/0.png", false},
        {"EUR0407/25/0/0.png", false},
        {"EUR0407/3/+1/0.png", false},
        {"EUR0407/3/1/0@3x.png", false},
        {"EUR0407/3/1/0", false},
        {"EUR0407/3/1/0/0.png", false},
        {"EUR 407/3/1/0.png", false},
        {"/3/1/0.png", false},
    };
    for (const auto& c : cases) {
        const auto tile = parseTilePath(c.path);
        ASSERT_EQ(tile.ok(), c.tile) << c.path;
        if (c.tile) {
            EXPECT_EQ(tile->z, c.z) << c.path;
            EXPECT_EQ(tile->x, c.x) << c.path;
            EXPECT_EQ(tile->y, c.y) << c.path;
            EXPECT_EQ(tile->scale, c.scale) << c.path;
            EXPECT_EQ(tile->format, c.format) << c.path;
        } else {
            EXPECT_EQ(tile.error().status, 404) << c.path;
        }
    }
}

TEST(TileAsk, ThePictureCoversTheTileInPixelsNoCoarserThanItsFinest)
{
    for (const TileAsk& tile : {TileAsk{"EUR0407", 0, 0, 0, 1, TileFormat::Png},
                                TileAsk{"EUR0407", 6, 63, 0, 2, TileFormat::Png},
                                TileAsk{"EUR0407", 15, 17000, 11000, 1, TileFormat::Png}}) {
        const MapRequest r = tilePicture(tile);
        const Geometry g(r);
        const common::GeoBox box = tileBox(tile.z, tile.x, tile.y);
        EXPECT_LE(g.lonAt(0), box.west);
        EXPECT_GE(g.lonAt(g.width), box.east);
        EXPECT_GE(g.latAt(0), box.north);
        EXPECT_LE(g.latAt(g.height), box.south);
        EXPECT_LE(g.degreesPerPixel, (box.east - box.west) / tile.side());
        EXPECT_LE(r.width, maxSide);
        EXPECT_FALSE(r.legend);
    }
}

TEST(TileAsk, HostHeadersAreHostAndPortAlone)
{
    for (const char* good : {"localhost", "maps.example.org:8047", "127.0.0.1:80", "[::1]:8047"}) {
        EXPECT_TRUE(isHostHeader(good)) << good;
    }
    for (const char* bad : {"", "a b", "evil/<x>", "host:", "host:123456", "a\"b", "[::1", "h:p"}) {
        EXPECT_FALSE(isHostHeader(bad)) << bad;
    }
}

} // namespace
