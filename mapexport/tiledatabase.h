#pragma once

// An SQLite file of map tiles, written once under a temporary name in one transaction and
// flushed before it is renamed, so it keeps no journal. MBTiles and SQLiteDB both write so.
#include "common/result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace mapexport {

class TileDatabase {
public:
    // Creates |path| and runs |schema| in the transaction.
    TileDatabase(const QString& path, const char* schema);

    // The first failure; nothing more is written after it.
    const std::optional<common::Error>& error() const { return error_; }

    // A statement the database keeps until finish().
    sqlite3_stmt* prepare(const char* sql);
    // Runs a bound statement once and resets it; false (and the error kept) on failure.
    bool step(sqlite3_stmt* statement);
    // Runs |statement| with |numbers| for its first parameters and |blob| for the next.
    common::Status insert(sqlite3_stmt* statement, std::initializer_list<std::int64_t> numbers,
                          const QByteArray& blob);
    bool run(const char* sql);
    // Runs |last| (indexes, say), commits and closes.
    common::Status finish(const char* last);

private:
    void fail(const char* what);

    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    std::unique_ptr<sqlite3, Closer> db_;
    std::vector<std::unique_ptr<sqlite3_stmt, Closer>> statements_;
    std::optional<common::Error> error_;
};

} // namespace mapexport
