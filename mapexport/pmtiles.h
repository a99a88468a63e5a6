#pragma once

// The parts of a PMTiles (version 3) archive: one file that any web server serves to a map in a
// browser by range requests. A 127-byte header, a root directory that fits with it in the first
// 16 KiB a reader fetches, the metadata, leaf directories when the root cannot hold every
// entry, and the tiles. Tiles are numbered along a Hilbert curve, zoom after zoom, so that tiles
// near each other on the map are near each other in the file and in the directories.
#include <QByteArray>

#include <cstdint>
#include <vector>

namespace mapexport::pmtiles {

// Where a reader looks first: the header and the root directory lie within these bytes.
constexpr std::size_t rootBytes = 16384;
constexpr std::size_t headerBytes = 127;

// The tile's id: the tiles of every coarser zoom, then its place on the Hilbert curve through
// the 2^zoom x 2^zoom tiles of its zoom (columns from the west, rows from the north).
std::uint64_t tileId(int zoom, std::uint64_t column, std::uint64_t row);

// One entry of a directory: |runLength| tiles from |tileId| on, all the same |length| bytes at
// |offset| of the tile data; or, with a run length of 0, a leaf directory at |offset| of the
// leaf directories whose first tile is |tileId|.
struct Entry {
    std::uint64_t tileId = 0;
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t runLength = 0;
};

// |entries| (in tile id order) as a directory, gzip-compressed: the count, then the ids as
// differences, the run lengths, the lengths and the offsets (0 for one that follows the one
// before it, else the offset plus one), each as a varint.
QByteArray directory(const std::vector<Entry>& entries);

// The directories of an archive: the root, and the leaves it points to, if any.
struct Directories {
    QByteArray root;
    QByteArray leaves;
    int leafCount = 0;
};

// The directories of |entries| whose root fits with the header within |rootBudget| bytes: all
// entries in the root when they fit, else leaves of enough entries each (4,096 at least) that the
// root pointing at them fits.
Directories directories(const std::vector<Entry>& entries, std::size_t rootBudget = rootBytes);

// |data| gzip-compressed, as PMTiles compresses its directories and metadata.
QByteArray gzip(const QByteArray& data);

// What the header says of the archive beyond where its parts lie.
enum class TileType : std::uint8_t { Png = 2, Jpeg = 3, Webp = 4 };

struct Header {
    std::uint64_t rootOffset = headerBytes, rootLength = 0;
    std::uint64_t metadataOffset = 0, metadataLength = 0;
    std::uint64_t leavesOffset = 0, leavesLength = 0;
    std::uint64_t tilesOffset = 0, tilesLength = 0;
    std::uint64_t addressedTiles = 0; // tiles a reader finds
    std::uint64_t tileEntries = 0;    // entries that name tiles (runs counted once)
    std::uint64_t tileContents = 0;   // distinct tiles stored
    TileType tileType = TileType::Png;
    int minZoom = 0, maxZoom = 0, centreZoom = 0;
    double west = 0, south = 0, east = 0, north = 0; // degrees
    double centreLongitude = 0, centreLatitude = 0;
};

// The 127 bytes of |header|: tiles clustered in id order, directories and metadata gzipped,
// the tiles themselves stored as they are.
QByteArray header(const Header& header);

} // namespace mapexport::pmtiles
