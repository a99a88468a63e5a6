#pragma once

// A mosaic cut into the tiles of the Web Mercator grid that map apps read, at every zoom from
// the mosaic's own resolution to one covering tile, on both sides of 180 degrees.
#include "common/result.h"
#include "mapexport/mosaic.h"

#include <QByteArray>
#include <QImage>

#include <cpl_progress.h>
#include <gdal.h>

#include <cstdint>
#include <optional>

namespace mapexport {

// Where a mosaic lies on the grid and the zoom levels it is cut at.
struct PyramidPlan {
    int minZoom = 0; // the finest zoom at which one tile covers the whole mosaic
    int maxZoom = 0; // the coarsest whose pixels are no larger than the mosaic's
    // The mosaic's bounds in degrees, longitudes within -180..180, west < east: across 180
    // degrees every longitude, from -180 to 180.
    double west = 0, south = 0, east = 0, north = 0;
    double centreLongitude = 0; // the mosaic's middle, within -180..180, across 180 too
    // The tiles of the finest zoom that the mosaic reaches into (inclusive): every column of
    // the grid across 180 degrees, where a container without wrapping must hold both sides.
    std::int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
};

// The finest zoom cut: GDAL's GeoPackage driver counts the grid's pixels in 32 bits, which
// zoom 23 passes.
constexpr int finestTileZoom = 22;

// Why |tile| at |centre| cannot be cut into the grid, or nothing: it spans more than the whole
// earth, less than a pixel of the finest zoom, or lies wholly beyond the grid's latitudes.
std::optional<QString> gridProblem(const Tile& tile, const Centre& centre);

// The tiles that the grid can hold, with their centres, and "name: why" for each of the rest.
struct OnGrid {
    std::vector<Tile> tiles;
    std::vector<Centre> centres;
    QStringList leftOut;
};
OnGrid keepOnGrid(std::vector<Tile> tiles, std::vector<Centre> centres);

PyramidPlan planPyramid(const Mosaic& mosaic);

// How tiles are encoded: Auto takes PNG for a tile with transparency or at most 256 colours,
// else JPEG of quality 85. A JPEG tile's transparent parts are white.
enum class TileFormat { Auto, Png, Jpeg };

// Takes the tiles as they are made, encoded (|jpeg| or PNG), rows counted from the north (as
// tile servers number them), columns within 0..2^zoom - 1; called by one thread at a time.
class TileSink {
public:
    virtual ~TileSink() = default;
    virtual common::Status put(int zoom, std::int64_t column, std::int64_t row,
                               const QByteArray& bytes, bool jpeg) = 0;
};

// |tile| (premultiplied ARGB) encoded as |format| asks; whether it became a JPEG.
struct EncodedTile {
    QByteArray bytes;
    bool jpeg = false;
};
EncodedTile encodeTile(const QImage& tile, TileFormat format);

// |image| as a JPEG of quality 85 on white, which shows where it is transparent; empty when it
// cannot be encoded.
QByteArray jpegOnWhite(const QImage& image);

// Cuts |source|, the mosaic's picture (see mosaicVrt), into the tiles of |plan| and gives every
// tile that is not wholly transparent to |sink|, encoded as |format| asks. The finest tiles are
// warped from the mosaic by GDAL, a block of 8 x 8 at a time, in an order that keeps the tiles read
// near each other; each coarser tile is the average of the four beneath it. |progress| is called as
// GDAL's tools call it; when it answers FALSE the cutting stops with an error. The number of tiles
// given, or the first error.
common::Result<std::int64_t> writePyramid(const Mosaic& mosaic, GDALDatasetH source,
                                          const PyramidPlan& plan, TileSink& sink,
                                          TileFormat format = TileFormat::Png,
                                          GDALProgressFunc progress = nullptr,
                                          void* progressData = nullptr);

} // namespace mapexport
