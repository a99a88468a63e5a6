#include "mapexport/pmtiles.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <zlib.h>

namespace mapexport::pmtiles {

namespace {

void varint(QByteArray& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(static_cast<char>(value));
}

void little(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

// Degrees as the header keeps them: ten-millionths in a signed 32-bit number.
void position(QByteArray& out, double longitude, double latitude)
{
    for (const double degrees : {longitude, latitude}) {
        little(out,
               static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(degrees * 1e7))),
               4);
    }
}

} // namespace

std::uint64_t tileId(int zoom, std::uint64_t column, std::uint64_t row)
{
    // The tiles of zooms 0 .. zoom - 1: (4^zoom - 1) / 3.
    const std::uint64_t before = ((std::uint64_t{1} << (2 * zoom)) - 1) / 3;
    std::uint64_t x = column;
    std::uint64_t y = row;
    std::uint64_t along = 0;
    for (std::uint64_t s = (std::uint64_t{1} << zoom) >> 1; s > 0; s >>= 1) {
        const std::uint64_t rx = (x & s) != 0 ? 1 : 0;
        const std::uint64_t ry = (y & s) != 0 ? 1 : 0;
        along += s * s * ((3 * rx) ^ ry);
        // Turns the quadrant so that the curve through it starts and ends where it should.
        if (ry == 0) {
            if (rx == 1) {
                x = s - 1 - (x & (s - 1));
                y = s - 1 - (y & (s - 1));
            }
            std::swap(x, y);
        }
    }
    return before + along;
}

QByteArray gzip(const QByteArray& data)
{
    z_stream stream{};
    // 16 more window bits ask zlib for the gzip wrapper.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("zlib cannot start");
    }
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))),
                   Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    if (done != Z_STREAM_END) {
        throw std::runtime_error("zlib cannot compress");
    }
    return out;
}

QByteArray directory(const std::vector<Entry>& entries)
{
    QByteArray out;
    varint(out, entries.size());
    std::uint64_t last = 0;
    for (const Entry& e : entries) {
        varint(out, e.tileId - last);
        last = e.tileId;
    }
    for (const Entry& e : entries) {
        varint(out, e.runLength);
    }
    for (const Entry& e : entries) {
        varint(out, e.length);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool follows =
            i > 0 && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        varint(out, follows ? 0 : entries[i].offset + 1);
    }
    return gzip(out);
}

Directories directories(const std::vector<Entry>& entries, std::size_t rootBudget)
{
    Directories made;
    made.root = directory(entries);
    if (headerBytes + static_cast<std::size_t>(made.root.size()) <= rootBudget) {
        return made;
    }
    // Each pass makes the leaves a fifth larger, so the root has fewer entries.
    for (std::size_t leafSize = 4096;; leafSize += leafSize / 5) {
        made.leaves.clear();
        std::vector<Entry> root;
        for (std::size_t first = 0; first < entries.size(); first += leafSize) {
            const std::vector<Entry> part(entries.begin() + static_cast<std::ptrdiff_t>(first),
                                          entries.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                first + leafSize, entries.size())));
            const QByteArray leaf = directory(part);
            root.push_back({part.front().tileId, static_cast<std::uint64_t>(made.leaves.size()),
                            static_cast<std::uint32_t>(leaf.size()), 0});
            made.leaves += leaf;
        }
        made.root = directory(root);
        made.leafCount = static_cast<int>(root.size());
        if (headerBytes + static_cast<std::size_t>(made.root.size()) <= rootBudget ||
            root.size() == 1) {
            return made;
        }
    }
}

QByteArray header(const Header& h)
{
    QByteArray out("PMTiles\x03", 8);
    for (const std::uint64_t value :
         {h.rootOffset, h.rootLength, h.metadataOffset, h.metadataLength, h.leavesOffset,
          h.leavesLength, h.tilesOffset, h.tilesLength, h.addressedTiles, h.tileEntries,
          h.tileContents}) {
        little(out, value, 8);
    }
    constexpr char clustered = 1;
    constexpr char gzipped = 2;
    constexpr char stored = 1;
    out.append(clustered);
    out.append(gzipped);
    out.append(stored);
    out.append(static_cast<char>(h.tileType));
    out.append(static_cast<char>(h.minZoom));
    out.append(static_cast<char>(h.maxZoom));
    position(out, h.west, h.south);
    position(out, h.east, h.north);
    out.append(static_cast<char>(h.centreZoom));
    position(out, h.centreLongitude, h.centreLatitude);
    return out;
}

} // namespace mapexport::pmtiles
