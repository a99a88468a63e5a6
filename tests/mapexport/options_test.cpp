#include "mapexport/options.h"

#include <gtest/gtest.h>

namespace {

using mapexport::Format;

TEST(ExportOptions, TakenOrRefusedWithTheUsageLine)
{
    using mapexport::TileFormat;
    const struct {
        QStringList arguments;
        const char* refusal; // nullptr: taken
        Format format;
        double zoom; // 0: none chosen
        int type;    // 0: none chosen
        TileFormat tiles = TileFormat::Auto;
        int maxImages = 100;
        bool page = true;
    } cases[] = {
        {{"alps.tif"}, nullptr, Format::GeoTiff, 0, 0},
        {{"--zoom", "45", "--type", "2", "ALPS.MBTiles"}, nullptr, Format::MBTiles, 45, 2},
        {{"--folder", "tiles", "a.tiff"}, nullptr, Format::GeoTiff, 0, 0},
        {{"--zoom=45", "--type=1", "a.kmz"}, nullptr, Format::KMZ, 45, 1},
        {{"--tile-format", "jpeg", "a.sqlitedb"},
         nullptr,
         Format::SQLiteDB,
         0,
         0,
         TileFormat::Jpeg},
        {{"--tile-format", "png", "a.gpkg"}, nullptr, Format::GeoPackage, 0, 0, TileFormat::Png},
        {{"--tile-format", "auto", "a.mbtiles"}, nullptr, Format::MBTiles, 0, 0, TileFormat::Auto},
        {{"--tile-format=webp", "a.gpkg"}, nullptr, Format::GeoPackage, 0, 0, TileFormat::Webp},
        {{"--max-images", "7", "a.kmz"}, nullptr, Format::KMZ, 0, 0, TileFormat::Auto, 7},
        {{"a.PMTiles"}, nullptr, Format::PMTiles, 0, 0},
        {{"--no-page", "a.pmtiles"}, nullptr, Format::PMTiles, 0, 0, TileFormat::Auto, 100, false},
        {{"--max-images", "0", "a.kmz"},
         "--max-images takes a whole number from 1, not \"0\"",
         Format::KMZ,
         0,
         0},
        {{"--tile-format", "gif", "a.mbtiles"},
         "--tile-format takes auto, png, jpeg or webp, not \"gif\"",
         Format::MBTiles,
         0,
         0},
        {{}, "no OUTPUT named", Format::GeoTiff, 0, 0},
        {{"alps.png"},
         "OUTPUT must end in .mbtiles, .sqlitedb, .kmz, .gpkg, .tif, .tiff or .pmtiles: alps.png",
         Format::GeoTiff,
         0,
         0},
        {{"--zoom", "x", "a.tif"}, "--zoom takes a number, not \"x\"", Format::GeoTiff, 0, 0},
        {{"--type", "3", "a.tif"}, "--type takes 1 or 2, not \"3\"", Format::GeoTiff, 0, 0},
        {{"a.tif", "b.tif"}, "unknown or incomplete argument \"b.tif\"", Format::GeoTiff, 0, 0},
        {{"a.tif", "--folder"},
         "unknown or incomplete argument \"--folder\"",
         Format::GeoTiff,
         0,
         0},
    };
    for (const auto& c : cases) {
        const auto parsed = mapexport::parseOptions(c.arguments);
        const std::string line = c.arguments.join(u' ').toStdString();
        if (c.refusal != nullptr) {
            ASSERT_FALSE(parsed.ok()) << line;
            EXPECT_EQ(parsed.error().status, 2);
            EXPECT_EQ(parsed.error().text,
                      std::string(c.refusal) + "\n" + mapexport::usageText.toStdString());
            continue;
        }
        ASSERT_TRUE(parsed.ok()) << line << ": " << parsed.error().text;
        EXPECT_EQ(parsed->format, c.format) << line;
        EXPECT_EQ(parsed->choice.zoom.value_or(0), c.zoom) << line;
        EXPECT_EQ(parsed->choice.mapType.value_or(0), c.type) << line;
        EXPECT_EQ(parsed->settings.tiles, c.tiles) << line;
        EXPECT_EQ(parsed->settings.maxImages, c.maxImages) << line;
        EXPECT_EQ(parsed->settings.page, c.page) << line;
    }
}

} // namespace
