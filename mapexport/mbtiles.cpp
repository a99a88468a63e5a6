#include "mapexport/mbtiles.h"

#include "mapexport/tilepyramid.h"

#include <QFile>

#include <memory>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <utility>
#include <vector>

namespace mapexport {

namespace {

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Closer>;

class MbtilesFile : public TileSink {
public:
    explicit MbtilesFile(const QString& path)
    {
        sqlite3* db = nullptr;
        const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        db_.reset(db);
        if (opened != SQLITE_OK) {
            fail("created");
            return;
        }
        // The file is written once, under a temporary name, and flushed before it is renamed:
        // a journal would only cost time.
        if (!run("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN;"
                 "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, "
                 "tile_row INTEGER, tile_data BLOB);")) {
            return;
        }
        sqlite3_stmt* insert = nullptr;
        if (sqlite3_prepare_v2(db_.get(), "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &insert,
                               nullptr) != SQLITE_OK) {
            fail("written");
        }
        insert_.reset(insert);
    }

    const std::optional<common::Error>& error() const { return error_; }

    common::Status put(int zoom, std::int64_t column, std::int64_t row,
                       const QByteArray& png) override
    {
        sqlite3_stmt* s = insert_.get();
        sqlite3_bind_int(s, 1, zoom);
        sqlite3_bind_int64(s, 2, column);
        sqlite3_bind_int64(s, 3, (std::int64_t{1} << zoom) - 1 - row); // counted from the south
        sqlite3_bind_blob(s, 4, png.constData(), static_cast<int>(png.size()), SQLITE_STATIC);
        const bool ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
        if (!ok) {
            fail("written");
            return *error_;
        }
        return {};
    }

    common::Status finish(const std::vector<std::pair<std::string, std::string>>& metadata)
    {
        insert_.reset();
        sqlite3_stmt* add = nullptr;
        if (!error_ && sqlite3_prepare_v2(db_.get(), "INSERT INTO metadata VALUES (?1, ?2)", -1,
                                          &add, nullptr) != SQLITE_OK) {
            fail("written");
        }
        Statement adding(add);
        for (const auto& [name, value] : metadata) {
            if (error_ || value.empty()) {
                continue;
            }
            sqlite3_bind_text(add, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(add, 2, value.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(add) != SQLITE_DONE) {
                fail("written");
            }
            sqlite3_reset(add);
        }
        adding.reset();
        if (!error_) {
            run("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                "CREATE UNIQUE INDEX name ON metadata (name);"
                "COMMIT;");
        }
        if (!error_ && sqlite3_close(db_.release()) != SQLITE_OK) {
            error_ = common::permanent("the file cannot be closed", 1);
        }
        if (error_) {
            return *error_;
        }
        return {};
    }

private:
    bool run(const char* sql)
    {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail("written");
            return false;
        }
        return true;
    }

    void fail(const char* what)
    {
        if (!error_) {
            const std::string reason = db_ ? sqlite3_errmsg(db_.get()) : "no memory";
            error_ =
                common::permanent(std::string("the file cannot be ") + what + ": " + reason, 1);
        }
    }

    Database db_;
    Statement insert_;
    std::optional<common::Error> error_;
};

std::string number(double value)
{
    return QString::number(value, 'f', 6).toStdString();
}

} // namespace

common::Status writeMbtiles(const Mosaic& mosaic, GDALDatasetH source, const QString& path,
                            const QString& name, GDALProgressFunc progress, void* progressData)
{
    MbtilesFile file(path);
    if (file.error()) {
        return *file.error();
    }
    const PyramidPlan plan = planPyramid(mosaic);
    const auto given = writePyramid(mosaic, source, plan, file, progress, progressData);
    if (!given) {
        return given.error();
    }
    // The centre of the bounds, on the right side of 180 degrees.
    double centreLon = (plan.west + plan.east + (plan.west > plan.east ? 360 : 0)) / 2;
    centreLon -= centreLon > 180 ? 360 : 0;
    const std::string named = name.toStdString();
    return file.finish({
        {"name", named},
        {"description", named},
        {"type", "baselayer"},
        {"version", "1.1"},
        {"format", "png"},
        {"minzoom", std::to_string(plan.minZoom)},
        {"maxzoom", std::to_string(plan.maxZoom)},
        {"bounds", number(plan.west) + "," + number(plan.south) + "," + number(plan.east) + "," +
                       number(plan.north)},
        {"center", number(centreLon) + "," + number((plan.north + plan.south) / 2) + "," +
                       std::to_string((plan.minZoom + plan.maxZoom + 1) / 2)},
        {"attribution", mosaic.credit.toHtmlEscaped().toStdString()},
    });
}

} // namespace mapexport
