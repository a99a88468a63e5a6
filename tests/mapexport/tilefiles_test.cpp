// Tile files (MBTiles, SQLiteDB, GeoPackage) read back with SQLite: every tile in the one format
// the file names, chosen by auto from the tiles or forced.
#include "exportreaders.h"
#include "gifmaker.h"
#include "mapexport/gdalexport.h"
#include "mapexport/mosaic.h"
#include "mapexport/tiles.h"
#include "tempworkdir.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using testsupport::TempWorkDir;

// The one format of a tile file's tiles, as its metadata names it, and the formats its tiles
// are in (by their first bytes).
struct StoredTiles {
    std::string named;
    std::set<std::string> found;
};

StoredTiles storedTiles(const char* path, const char* metadataQuery, const char* tilesQuery)
{
    StoredTiles stored;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return stored;
    }
    sqlite3_stmt* query = nullptr;
    if (metadataQuery != nullptr &&
        sqlite3_prepare_v2(db, metadataQuery, -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
        stored.named = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    }
    sqlite3_finalize(query);
    sqlite3_prepare_v2(db, tilesQuery, -1, &query, nullptr);
    while (sqlite3_step(query) == SQLITE_ROW) {
        const QByteArray bytes(static_cast<const char*>(sqlite3_column_blob(query, 0)),
                               sqlite3_column_bytes(query, 0));
        stored.found.insert(bytes.startsWith("\x89PNG")    ? "png"
                            : bytes.startsWith("\xff\xd8") ? "jpg"
                            : bytes.startsWith("RIFF")     ? "webp"
                                                           : "other");
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return stored;
}

TEST(ExportedTileFiles, HoldTheirTilesInTheOneFormatTheirMetadataNames)
{
    // A 2 x 2 region of 200-pixel tiles a degree wide: a drawn map in one colour, or noise
    // that the warping blends into many colours, as in a photograph.
    const struct {
        bool drawn;
        mapexport::TileFormat asked;
        const char* output;
        const char* format;
    } cases[] = {
        {true, mapexport::TileFormat::Auto, "drawn.mbtiles", "png"},
        {false, mapexport::TileFormat::Auto, "photo.mbtiles", "jpg"},
        {false, mapexport::TileFormat::Auto, "photo.sqlitedb", "jpg"},
        {true, mapexport::TileFormat::Webp, "drawn.mbtiles", "webp"},
        {false, mapexport::TileFormat::Webp, "photo.gpkg", "webp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " " + c.format);
        TempWorkDir work;
        TempWorkDir::write(QStringLiteral("t.gif"), c.drawn ? testsupport::makeFlatGif(200, 200)
                                                            : testsupport::makeGif(200, 200));
        const std::vector<mapexport::Centre> centres{{48, 10}, {48, 11}, {49, 10}, {49, 11}};
        const std::vector<mapexport::Tile> tiles =
            testsupport::pictureTiles({"t.gif", "t.gif", "t.gif", "t.gif"}, 200);
        const mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, centres);
        mapexport::ExportSettings settings;
        settings.tiles = c.asked;
        std::optional<mapexport::TileFormat> told;
        settings.tilesWritten = [&](mapexport::TileFormat f) { told = f; };
        const QString name = QString::fromLatin1(c.output);
        ASSERT_TRUE(mapexport::writeExport(mosaic, *mapexport::formatOf(name), name, name, nullptr,
                                           nullptr, settings)
                        .ok());
        ASSERT_TRUE(told.has_value());
        EXPECT_STREQ(mapexport::tileFormatName(*told), c.format);
        const bool mbtiles = name.endsWith(u".mbtiles");
        const bool gpkg = name.endsWith(u".gpkg");
        const StoredTiles stored = storedTiles(
            c.output,
            mbtiles ? "SELECT value FROM metadata WHERE name = 'format'"
            : gpkg  ? "SELECT extension_name FROM gpkg_extensions WHERE extension_name LIKE "
                      "'%webp%'"
                    : nullptr,
            mbtiles ? "SELECT tile_data FROM tiles"
            : gpkg  ? "SELECT tile_data FROM tiles"
                    : "SELECT image FROM tiles");
        EXPECT_EQ(stored.found, std::set<std::string>{c.format});
        if (mbtiles) {
            EXPECT_EQ(stored.named, c.format);
        } else if (gpkg) {
            EXPECT_EQ(stored.named, "gpkg_webp") << "the WebP extension is registered";
        }
    }
}

} // namespace
