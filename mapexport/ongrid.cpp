#include "mapexport/ongrid.h"

#include "common/webmercator.h"

#include <QFileInfo>

namespace mapexport {

using namespace common::mercator;

std::optional<QString> gridProblem(const Tile& tile, const Centre& centre)
{
    const double d = common::degreesPerPixel(tile.zoom);
    const double wide = d * tile.width;
    const double finestPixel = 360 / (tilesAcross(finestTileZoom) * tilePixels);
    if (!(wide <= 360)) {
        return QStringLiteral("its name's zoom %1 makes it %2 degrees wide, more than the whole "
                              "earth")
            .arg(tile.zoom, 0, 'g', 12)
            .arg(wide, 0, 'g', 6);
    }
    if (!(wide >= finestPixel)) {
        return QStringLiteral("its name's zoom %1 makes it narrower than one pixel of the finest "
                              "map tiles (zoom %2)")
            .arg(tile.zoom, 0, 'g', 12)
            .arg(finestTileZoom);
    }
    const double north = centre.latitude + d * tile.height / 2;
    const double south = centre.latitude - d * tile.height / 2;
    if (south >= mercatorLimit || north <= -mercatorLimit) {
        return QStringLiteral("it lies wholly beyond %1 degrees of latitude, where map tiles end")
            .arg(mercatorLimit, 0, 'f', 4);
    }
    return std::nullopt;
}

OnGrid keepOnGrid(std::vector<Tile> tiles, std::vector<Centre> centres)
{
    OnGrid kept;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (const auto problem = gridProblem(tiles[i], centres[i])) {
            kept.leftOut.append(QFileInfo(tiles[i].path).fileName() + QStringLiteral(": ") +
                                *problem);
        } else {
            kept.tiles.push_back(std::move(tiles[i]));
            kept.centres.push_back(centres[i]);
        }
    }
    return kept;
}

} // namespace mapexport
