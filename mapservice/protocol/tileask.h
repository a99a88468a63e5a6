#pragma once

// Tiles of the Web Mercator grid as map programs ask for them:
// /tiles/{code}/{z}/{x}/{y}[@2x].{png|jpg|webp}, rows from the north.
#include "common/geobox.h"
#include "common/result.h"
#include "mapservice/protocol/request.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace mapservice {

enum class TileFormat { Png, Jpeg, Webp };

// The finest zoom any tile may be asked at; a source's own finest zoom is usually lower.
constexpr int maxTileZoom = 24;

struct TileAsk {
    std::string code;
    int z = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    int scale = 1; // 2 for "@2x": 512 pixels
    TileFormat format = TileFormat::Png;
    int side() const { return 256 * scale; }
};

// The tile that |path|, what follows "/tiles/", names; a 404 for anything else: numbers that
// are no numbers, overflow or lie outside 0..2^z-1, a zoom past maxTileZoom, another ending.
common::Result<TileAsk> parseTilePath(std::string_view path);

// The box of a tile in degrees.
common::GeoBox tileBox(int z, std::int64_t x, std::int64_t y);

// A plate carree picture that covers the tile's box and |margin| pixels more on each side, its
// pixels no coarser than the tile's finest ones (capped at four times the tile's side across),
// without legend; for |code|.
MapRequest tilePicture(const TileAsk& tile, int margin = 2);

const char* contentTypeOf(TileFormat format);
const char* endingOf(TileFormat format);

// Whether |host|, a Host header, is host[:port]: letters, digits, '-', '.', or an IPv6 literal
// in brackets, and a port of digits.
bool isHostHeader(std::string_view host);

} // namespace mapservice
