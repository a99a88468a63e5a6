#include "mapexport/tiledatabase.h"

#include <QFile>

namespace mapexport {

TileDatabase::TileDatabase(const QString& path, const char* schema)
{
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(db);
    if (opened != SQLITE_OK) {
        fail("created");
        return;
    }
    if (run("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN;")) {
        run(schema);
    }
}

sqlite3_stmt* TileDatabase::prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (!error_ && sqlite3_prepare_v2(db_.get(), sql, -1, &statement, nullptr) != SQLITE_OK) {
        fail("written");
    }
    statements_.emplace_back(statement);
    return statement;
}

bool TileDatabase::step(sqlite3_stmt* statement)
{
    if (error_ || statement == nullptr) {
        return false;
    }
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_reset(statement);
    if (!done) {
        fail("written");
    }
    return done;
}

common::Status TileDatabase::insert(sqlite3_stmt* statement,
                                    std::initializer_list<std::int64_t> numbers,
                                    const QByteArray& blob)
{
    int parameter = 0;
    for (const std::int64_t number : numbers) {
        sqlite3_bind_int64(statement, ++parameter, number);
    }
    sqlite3_bind_blob(statement, ++parameter, blob.constData(), static_cast<int>(blob.size()),
                      SQLITE_STATIC);
    if (!step(statement)) {
        return *error_;
    }
    return {};
}

bool TileDatabase::run(const char* sql)
{
    if (!error_ && sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail("written");
    }
    return !error_;
}

common::Status TileDatabase::finish(const char* last)
{
    statements_.clear();
    if (run(last) && run("COMMIT;") && sqlite3_close(db_.release()) != SQLITE_OK) {
        error_ = common::permanent("the file cannot be closed", 1);
    }
    if (error_) {
        return *error_;
    }
    return {};
}

void TileDatabase::fail(const char* what)
{
    if (!error_) {
        const std::string reason = db_ ? sqlite3_errmsg(db_.get()) : "no memory";
        error_ = common::permanent(std::string("the file cannot be ") + what + ": " + reason, 1);
    }
}

} // namespace mapexport
