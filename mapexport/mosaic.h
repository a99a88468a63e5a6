#pragma once

// One picture made of many tiles: each tile shows the part of the map nearer to its centre than
// to any other tile's, so overlapping tiles neither blend nor leave seams.
#include "mapexport/tiles.h"

#include <QByteArray>
#include <QRectF>

#include <vector>

namespace mapexport {

struct Piece {
    QString path;
    int width = 0;
    int height = 0;
    QRectF source;     // pixels of the tile
    QRect destination; // pixels of the mosaic
};

struct Mosaic {
    common::GeoTransform transform{}; // in degrees, WGS 84
    int width = 0;
    int height = 0;
    std::vector<Piece> pieces;
    QString credit; // the map's, for the written file's metadata; empty: none
};

// The mosaic of |tiles| (one zoom) placed at |centres|. A tile's part is bounded, on each side,
// halfway to the centre of the nearest tile beyond it in its row (east, west) or its column
// (north, south), or by its own edge where there is none. Parts meet on whole mosaic pixels.
Mosaic planMosaic(const std::vector<Tile>& tiles, const std::vector<Centre>& centres);

// The longitude of the mosaic's west edge, shifted by whole turns into -180..180.
double westWithin180(const Mosaic& mosaic);

// The most tiles one row of the mosaic's pixels runs through: GDAL writes a file a strip of
// rows at a time, so that many tiles are read together.
int widestRow(const Mosaic& mosaic);

// Tiles that touch or overlap (their pictures' extents meet, with half a pixel to spare) form a
// group; a folder may hold separate regions. Each group's bounds and number of tiles, the
// largest first.
struct TileGroup {
    common::GeoBox bounds;
    int tiles = 0;
};
std::vector<TileGroup> tileGroups(const std::vector<Tile>& tiles,
                                  const std::vector<Centre>& centres);

// A GDAL VRT of the mosaic as RGB and alpha: each tile's palette expanded, its part copied and
// opaque, and transparent where no tile is. The credit, when there is one, is its
// TIFFTAG_COPYRIGHT.
QByteArray mosaicVrt(const Mosaic& mosaic);

} // namespace mapexport
