#pragma once

// The tiles an export takes: read from a tile folder, chosen by zoom and map type, and placed
// exactly where the map service drew them.
#include "common/result.h"
#include "common/tilefolder.h"
#include "common/tilegeometry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace mapexport {

struct Tile {
    QString path;
    int width = 0; // pixels, from the picture's header
    int height = 0;
    int mapType = 0; // 1 for the map letters E and U, 2 for W
    double zoom = 0;
    // The centre as the name gives it, cut after the second decimal.
    common::Centre nameCentre;
    // Where the downloader's world file says the tile lies, when there is one.
    std::optional<common::GeoTransform> place;
    // The map's credit, from the .gif.aux.xml beside the tile; empty when it names none.
    QString credit;
    // The map service's name for the source that drew it, from the same file; a tile stored
    // before sources were recorded takes the one source recorded by the tiles of its zoom and
    // map type, where they record one; else empty.
    QString source;
};

// The credits of |tiles|, each once, in the order they first come, joined by "; ".
QString creditOf(const std::vector<Tile>& tiles);

// The largest picture the suite stores: a region tile or a single large picture.
constexpr int maxTileSide = 1999;

struct Scan {
    std::vector<Tile> tiles;
    QStringList foreign;  // pictures whose names are no tile names, skipped
    QStringList leftOut;  // "name: why", tiles that cannot be taken
    QStringList warnings; // "name: why", world files ignored (the name places the tile)
    bool stopped = false; // the progress asked to stop before every tile was read
};

// The tile pictures of |folder|, with the world files beside them. Nothing in the folder is
// taken on trust: a tile is left out when its name places it nowhere on the earth (zoom 0 or
// less, latitude beyond 90, longitude beyond 540), when it or a file beside it that GDAL would
// open (.gfw, .gif.aux.xml) is no regular file, when it is no whole GIF, declares more than
// maxTileSide pixels a side, or does not decode. A world file whose
// numbers are not finite, whose pixel size is zero or of the wrong sign, or that puts its tile
// more than a tile from its name's place is ignored.
// |progress|, when given, hears how many of the tiles are decoded (from any thread, in no
// order), and false from it stops the scan: the tiles not decoded yet are then left out as
// "not read: stopped", and Scan::stopped is set.
using ScanProgress = std::function<bool(int decoded, int tiles)>;
Scan scanFolder(const common::TileFolder& folder, const ScanProgress& progress = nullptr);

// The map type a tile name's letter stands for: 1 for E and U, 2 for W, 0 for any other.
int mapTypeOf(const QString& name);

// The tiles of one zoom, one map type and one source: those asked for, or all when the folder
// holds only one of each. A folder of several without a choice, or a choice that matches
// nothing, is refused with a message that lists what the folder holds.
struct Choice {
    std::optional<double> zoom;
    std::optional<int> mapType;
    std::optional<QString> source; // "" for tiles that record none
};
common::Result<std::vector<Tile>> chooseTiles(const std::vector<Tile>& tiles, const Choice& choice);

using common::Centre;

// The exact centre of every tile, in order: from its world file, or, without one, its name's
// centre snapped to the grid of the region, which the names give (see snapToGrid).
std::vector<Centre> exactCentres(const std::vector<Tile>& tiles);

// Values cut after the second decimal (toward zero) of positions on a regular grid of tiles of
// |zoom|, snapped back to that grid, each result kept within its own interval; equal values
// stand for one grid line. Of the grids that put every value in its interval, the step is
// zoom / 45 (the downloader's default offset) when one of them has it, else zoom / k for the
// whole k whose step is nearest the one least squares fit to the intervals' middles. The start
// puts a line a millionth of a degree past a round value (from zoom 20 on, a whole degree),
// as the downloader's corners do, where one fits.
std::vector<double> snapToGrid(const std::vector<double>& cutValues, double zoom);

} // namespace mapexport
