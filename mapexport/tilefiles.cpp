#include "mapexport/tilefiles.h"

#include "common/gdal.h"
#include "common/webmercator.h"
#include "mapexport/tiledatabase.h"

#include <QFile>

#include <ogr_spatialref.h>

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

    common::Status put(int zoom, std::int64_t column, std::int64_t row,
                       const QByteArray& bytes) override
    {
        // Rows counted from the south.
        return db_.insert(insert_, {zoom, column, (std::int64_t{1} << zoom) - 1 - row}, bytes);
    }

    common::Status finish(const std::vector<std::pair<std::string, std::string>>& metadata)
    {
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

    common::Status put(int zoom, std::int64_t column, std::int64_t row,
                       const QByteArray& bytes) override
    {
        return db_.insert(insert_, {column, row, bigPlanetZoom(zoom)}, bytes);
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

// The table GDAL's driver makes for the tiles.
constexpr const char* geoPackageTable = "tiles";

// Lets GDAL's driver make the container of |plan|'s tiles: an empty raster of the finest zoom
// over the tiles the mosaic reaches into, which registers the tile matrices of every zoom from
// 0 to the finest, and for WebP tiles the extension that readers need to know of them.
common::Status makeGeoPackage(const QString& path, const PyramidPlan& plan, const QString& name,
                              const QString& credit, TileFormat tiles)
{
    namespace gdal = common::gdal;
    constexpr double half = common::mercator::halfWorldMetres;
    const double pixel =
        2 * half / (common::mercator::tilePixels * common::mercator::tilesAcross(plan.maxZoom));
    const int side = common::mercator::tilePixels;
    CPLStringList options;
    options.SetNameValue("TILING_SCHEME", "GoogleMapsCompatible");
    options.SetNameValue("RASTER_TABLE", geoPackageTable);
    options.SetNameValue("RASTER_IDENTIFIER", name.toUtf8().constData());
    options.SetNameValue("RASTER_DESCRIPTION", credit.toUtf8().constData());
    if (tiles == TileFormat::Webp) {
        options.SetNameValue("TILE_FORMAT", "WEBP");
    }
    const gdal::ErrorCapture errors;
    gdal::Dataset dataset(GDALDataset::FromHandle(GDALCreate(
        GDALGetDriverByName("GPKG"), QFile::encodeName(path).constData(),
        static_cast<int>((plan.lastColumn - plan.firstColumn + 1) * side),
        static_cast<int>((plan.lastRow - plan.firstRow + 1) * side), 4, GDT_Byte, options.List())));
    if (!dataset) {
        return errors.error(common::ErrorKind::Permanent, "the file cannot be created", 1);
    }
    OGRSpatialReference mercator;
    mercator.importFromEPSG(3857);
    double transform[6] = {
        -half + static_cast<double>(plan.firstColumn) * side * pixel, pixel, 0,
        half - static_cast<double>(plan.firstRow) * side * pixel,     0,     -pixel};
    if (dataset->SetSpatialRef(&mercator) != CE_None ||
        dataset->SetGeoTransform(transform) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "the file cannot be set up", 1);
    }
    if (!credit.isEmpty()) {
        dataset->SetMetadataItem("attribution", credit.toUtf8().constData());
    }
    dataset.reset();
    if (errors.failed()) {
        return errors.error(common::ErrorKind::Permanent, "the file cannot be set up", 1);
    }
    return {};
}

class GeoPackageFile : public TileSink {
public:
    explicit GeoPackageFile(const QString& path)
        : db_(path, ""), insert_(db_.prepare((std::string("INSERT INTO \"") + geoPackageTable +
                                              "\" (zoom_level, tile_column, tile_row, tile_data) "
                                              "VALUES (?1, ?2, ?3, ?4)")
                                                 .c_str()))
    {}

    const std::optional<common::Error>& error() const { return db_.error(); }

    // The tile matrix set spans the whole grid, so a tile's numbers are the grid's.
    common::Status put(int zoom, std::int64_t column, std::int64_t row,
                       const QByteArray& bytes) override
    {
        return db_.insert(insert_, {zoom, column, row}, bytes);
    }

    common::Status finish() { return db_.finish(""); }

private:
    TileDatabase db_;
    sqlite3_stmt* insert_;
};

std::string number(double value)
{
    return QString::number(value, 'f', 6).toStdString();
}

std::vector<std::pair<std::string, std::string>> mbtilesMetadata(const PyramidPlan& plan,
                                                                 const Mosaic& mosaic,
                                                                 const QString& name,
                                                                 TileFormat tiles)
{
    const std::string named = name.toStdString();
    return {
        {"name", named},
        {"description", named},
        {"type", "baselayer"},
        {"version", "1.1"},
        {"minzoom", std::to_string(plan.minZoom)},
        {"maxzoom", std::to_string(plan.maxZoom)},
        {"bounds", number(plan.bounds.west) + "," + number(plan.bounds.south) + "," +
                       number(plan.bounds.east) + "," + number(plan.bounds.north)},
        {"center", number(plan.centreLongitude) + "," +
                       number((plan.bounds.north + plan.bounds.south) / 2) + "," +
                       std::to_string((plan.minZoom + plan.maxZoom + 1) / 2)},
        {"attribution", mosaic.credit.toHtmlEscaped().toStdString()},
        {"format", tileFormatName(tiles)},
    };
}

} // namespace

common::Status writeMbtiles(const ExportJob& job)
{
    const PyramidPlan plan = planPyramid(job.mosaic);
    MbtilesFile file(job.path);
    return writeTileSink(job, plan, file, [&](TileFormat tiles) {
        return file.finish(mbtilesMetadata(plan, job.mosaic, job.name, tiles));
    });
}

common::Status writeSqlitedb(const ExportJob& job)
{
    const PyramidPlan plan = planPyramid(job.mosaic);
    SqlitedbFile file(job.path);
    return writeTileSink(job, plan, file, [&](TileFormat) { return file.finish(plan); });
}

common::Status writeGeoPackage(const ExportJob& job)
{
    const PyramidPlan plan = planPyramid(job.mosaic);
    if (auto made = makeGeoPackage(job.path, plan, job.name, job.mosaic.credit, job.settings.tiles);
        !made) {
        return made.error();
    }
    GeoPackageFile file(job.path);
    return writeTileSink(job, plan, file, [&](TileFormat) { return file.finish(); });
}

} // namespace mapexport
