#include "mapexport/tilefiles.h"

#include "mapexport/tiledatabase.h"

#include <string>
#include <utility>
#include <vector>

namespace mapexport {

namespace {

class MbtilesFile : public TileSink {
public:
    explicit MbtilesFile(const QString& path)
        : db_(path, "CREATE TABLE metadata (name TEXT, value TEXT);"
                    "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, "
                    "tile_row INTEGER, tile_data BLOB);"),
          insert_(db_.prepare("INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)"))
    {}

    const std::optional<common::Error>& error() const { return db_.error(); }

    common::Status put(int zoom, std::int64_t column, std::int64_t row, const QByteArray& bytes,
                       bool jpeg) override
    {
        (jpeg ? jpegs_ : pngs_) = true;
        sqlite3_bind_int(insert_, 1, zoom);
        sqlite3_bind_int64(insert_, 2, column);
        sqlite3_bind_int64(insert_, 3, (std::int64_t{1} << zoom) - 1 - row); // from the south
        sqlite3_bind_blob(insert_, 4, bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
        if (!db_.step(insert_)) {
            return *db_.error();
        }
        return {};
    }

    common::Status finish(std::vector<std::pair<std::string, std::string>> metadata)
    {
        // One format for the file; readers look at each tile's own bytes when they are mixed.
        metadata.emplace_back("format", jpegs_ && !pngs_ ? "jpg" : "png");
        sqlite3_stmt* add = db_.prepare("INSERT INTO metadata VALUES (?1, ?2)");
        for (const auto& [name, value] : metadata) {
            if (value.empty()) {
                continue;
            }
            sqlite3_bind_text(add, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(add, 2, value.c_str(), -1, SQLITE_TRANSIENT);
            db_.step(add);
        }
        return db_.finish(
            "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
            "CREATE UNIQUE INDEX name ON metadata (name);");
    }

private:
    TileDatabase db_;
    sqlite3_stmt* insert_;
    bool pngs_ = false;
    bool jpegs_ = false;
};

// BigPlanet numbers zoom levels down from 17.
constexpr int bigPlanetZoom(int zoom)
{
    return 17 - zoom;
}

class SqlitedbFile : public TileSink {
public:
    explicit SqlitedbFile(const QString& path)
        : db_(path, "CREATE TABLE tiles (x INTEGER, y INTEGER, z INTEGER, s INTEGER, image BLOB, "
                    "PRIMARY KEY (x, y, z, s));"
                    "CREATE TABLE info (minzoom INTEGER, maxzoom INTEGER, tilenumbering TEXT, "
                    "tilesize INTEGER, ellipsoid INTEGER, inverted_y INTEGER, timecolumn TEXT, "
                    "expireminutes INTEGER);"
                    "CREATE TABLE android_metadata (locale TEXT);"),
          insert_(db_.prepare("INSERT INTO tiles VALUES (?1, ?2, ?3, 0, ?4)"))
    {}

    const std::optional<common::Error>& error() const { return db_.error(); }

    common::Status put(int zoom, std::int64_t column, std::int64_t row, const QByteArray& bytes,
                       bool) override
    {
        sqlite3_bind_int64(insert_, 1, column);
        sqlite3_bind_int64(insert_, 2, row);
        sqlite3_bind_int(insert_, 3, bigPlanetZoom(zoom));
        sqlite3_bind_blob(insert_, 4, bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
        if (!db_.step(insert_)) {
            return *db_.error();
        }
        return {};
    }

    // The zoom levels in BigPlanet numbers, the finest the smaller.
    common::Status finish(const PyramidPlan& plan)
    {
        sqlite3_stmt* info = db_.prepare("INSERT INTO info VALUES (?1, ?2, 'BigPlanet', 256, 0, "
                                         "0, 'no', 0)");
        sqlite3_bind_int(info, 1, bigPlanetZoom(plan.maxZoom));
        sqlite3_bind_int(info, 2, bigPlanetZoom(plan.minZoom));
        db_.step(info);
        db_.run("INSERT INTO android_metadata VALUES ('en_US');");
        return db_.finish("");
    }

private:
    TileDatabase db_;
    sqlite3_stmt* insert_;
};

std::string number(double value)
{
    return QString::number(value, 'f', 6).toStdString();
}

std::vector<std::pair<std::string, std::string>>
mbtilesMetadata(const PyramidPlan& plan, const Mosaic& mosaic, const QString& name)
{
    // The centre of the bounds, on the right side of 180 degrees.
    double centreLon = (plan.west + plan.east + (plan.west > plan.east ? 360 : 0)) / 2;
    centreLon -= centreLon > 180 ? 360 : 0;
    const std::string named = name.toStdString();
    return {
        {"name", named},
        {"description", named},
        {"type", "baselayer"},
        {"version", "1.1"},
        {"minzoom", std::to_string(plan.minZoom)},
        {"maxzoom", std::to_string(plan.maxZoom)},
        {"bounds", number(plan.west) + "," + number(plan.south) + "," + number(plan.east) + "," +
                       number(plan.north)},
        {"center", number(centreLon) + "," + number((plan.north + plan.south) / 2) + "," +
                       std::to_string((plan.minZoom + plan.maxZoom + 1) / 2)},
        {"attribution", mosaic.credit.toHtmlEscaped().toStdString()},
    };
}

} // namespace

common::Status writeTileFile(TileFile kind, const Mosaic& mosaic, GDALDatasetH source,
                             const QString& path, const QString& name, TileFormat tiles,
                             GDALProgressFunc progress, void* progressData)
{
    const PyramidPlan plan = planPyramid(mosaic);
    const auto write = [&](auto& file) -> common::Status {
        if (file.error()) {
            return *file.error();
        }
        if (auto given = writePyramid(mosaic, source, plan, file, tiles, progress, progressData);
            !given) {
            return given.error();
        }
        return {};
    };
    if (kind == TileFile::MBTiles) {
        MbtilesFile file(path);
        if (auto written = write(file); !written) {
            return written;
        }
        return file.finish(mbtilesMetadata(plan, mosaic, name));
    }
    SqlitedbFile file(path);
    if (auto written = write(file); !written) {
        return written;
    }
    return file.finish(plan);
}

} // namespace mapexport
