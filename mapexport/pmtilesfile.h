#pragma once

// A PMTiles archive written from tiles that come in any order: each tile is spooled to a file
// beside the archive as it comes (a tile met before is kept once), and once all have come the
// archive is written in one pass: header, root directory, metadata, leaf directories, and the
// tiles in id order, read back from the spool. Memory holds a few dozen bytes a tile.
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/pmtiles.h"
#include "mapexport/tileencoding.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace mapexport {

class PmtilesFile : public TileSink {
public:
    // Writes the archive to |path|, spooling to |spool| (removed when the object goes).
    PmtilesFile(const QString& path, const QString& spool);
    ~PmtilesFile() override;
    PmtilesFile(const PmtilesFile&) = delete;
    PmtilesFile& operator=(const PmtilesFile&) = delete;

    // Why the archive or the spool cannot be made, if so.
    const std::optional<common::Error>& error() const { return error_; }

    common::Status put(int zoom, std::int64_t column, std::int64_t row,
                       const QByteArray& bytes) override;

    // Writes the archive: |header| gives the tile type, zooms, bounds and centre (the parts'
    // places and counts are filled in), |metadata| is its JSON, and the root directory fits
    // with the header within |rootBudget| bytes.
    common::Status finish(pmtiles::Header header, const QByteArray& metadata,
                          std::size_t rootBudget = pmtiles::rootBytes);

private:
    struct Content {
        std::uint64_t spoolOffset;
        std::uint32_t length;
        std::uint64_t archiveOffset; // once placed
        bool placed;
    };
    struct Tile {
        std::uint64_t id;
        std::size_t content;
    };

    common::Error failed(const QString& what, const QFile& file);

    std::optional<common::Error> error_;
    QFile archive_;
    QFile spool_;
    std::vector<Content> contents_;
    std::vector<Tile> tiles_;
    // The contents by the first 128 bits of their SHA-256, to keep each once.
    struct Digest {
        std::uint64_t high, low;
        bool operator==(const Digest&) const = default;
    };
    struct DigestHash {
        std::size_t operator()(const Digest& d) const { return d.low; }
    };
    std::unordered_map<Digest, std::size_t, DigestHash> known_;
};

// Writes the job's mosaic as a PMTiles archive: the tiles of the MBTiles export (the same
// pyramid, the same bytes), the header's bounds, centre and zooms as its metadata gives them, and
// JSON metadata with the name, the credit (as HTML), the tiles' format, bounds and centre.
common::Status writePmtiles(const ExportJob& job);

} // namespace mapexport
