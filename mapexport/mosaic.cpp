#include "mapexport/mosaic.h"

#include "common/worldfile.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace mapexport {

namespace {

QByteArray escaped(const QString& text)
{
    return text.toUtf8()
        .replace('&', "&amp;")
        .replace('<', "&lt;")
        .replace('>', "&gt;")
        .replace('"', "&quot;");
}

} // namespace

Mosaic planMosaic(const std::vector<Tile>& tiles, const std::vector<Centre>& centres)
{
    Mosaic mosaic;
    if (tiles.empty()) {
        return mosaic;
    }
    const double d = common::degreesPerPixel(tiles.front().zoom);
    const double near = d / 2; // centres this close lie on one row or column
    std::vector<common::GeoBox> cells;
    std::vector<bool> twin(tiles.size(), false); // a second tile at the same place shows nothing
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        cells.push_back(
            common::pictureBox(centres[i], tiles[i].zoom, tiles[i].width, tiles[i].height));
    }
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const Centre& a = centres[i];
        common::GeoBox& cell = cells[i];
        for (std::size_t j = 0; j < tiles.size(); ++j) {
            const Centre& b = centres[j];
            const bool sameRow = std::abs(a.latitude - b.latitude) < near;
            const bool sameColumn = std::abs(a.longitude - b.longitude) < near;
            if (i == j) {
                continue;
            }
            if (sameRow && sameColumn) {
                twin[i] = twin[i] || j < i;
            } else if (sameRow) {
                const double half = (a.longitude + b.longitude) / 2;
                (b.longitude > a.longitude ? cell.east : cell.west) =
                    b.longitude > a.longitude ? std::min(cell.east, half)
                                              : std::max(cell.west, half);
            } else if (sameColumn) {
                const double half = (a.latitude + b.latitude) / 2;
                (b.latitude > a.latitude ? cell.north : cell.south) =
                    b.latitude > a.latitude ? std::min(cell.north, half)
                                            : std::max(cell.south, half);
            }
        }
    }
    common::GeoBox all = cells.front();
    for (const common::GeoBox& cell : cells) {
        all = all.united(cell);
    }
    mosaic.transform = {all.west, d, 0, all.north, 0, -d};
    mosaic.width = static_cast<int>(std::lround(all.width() / d));
    mosaic.height = static_cast<int>(std::lround(all.height() / d));
    const auto column = [&](double lon) {
        return static_cast<int>(std::lround((lon - all.west) / d));
    };
    const auto row = [&](double lat) {
        return static_cast<int>(std::lround((all.north - lat) / d));
    };
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const common::GeoBox& cell = cells[i];
        const QRect destination(QPoint(column(cell.west), row(cell.north)),
                                QPoint(column(cell.east) - 1, row(cell.south) - 1));
        if (twin[i] || destination.isEmpty()) {
            continue;
        }
        // Where the tile's own top left corner falls in the mosaic, in pixels.
        const double left = (centres[i].longitude - tiles[i].width / 2.0 * d - all.west) / d;
        const double top = (all.north - centres[i].latitude - tiles[i].height / 2.0 * d) / d;
        QRectF source(std::max(0.0, destination.x() - left), std::max(0.0, destination.y() - top),
                      destination.width(), destination.height());
        source.setRight(std::min(source.right(), static_cast<double>(tiles[i].width)));
        source.setBottom(std::min(source.bottom(), static_cast<double>(tiles[i].height)));
        mosaic.pieces.push_back(
            {tiles[i].path, tiles[i].width, tiles[i].height, source, destination});
    }
    return mosaic;
}

double westWithin180(const Mosaic& mosaic)
{
    const double west = mosaic.transform[0];
    return west - std::floor((west + 180) / 360) * 360;
}

int widestRow(const Mosaic& mosaic)
{
    // Pieces begin and end at rows; the count after each change, the ends first at a row.
    std::vector<std::pair<int, int>> changes;
    for (const Piece& piece : mosaic.pieces) {
        changes.emplace_back(piece.destination.top(), 1);
        changes.emplace_back(piece.destination.bottom() + 1, -1);
    }
    std::sort(changes.begin(), changes.end());
    int open = 0;
    int widest = 0;
    for (const auto& [row, change] : changes) {
        open += change;
        widest = std::max(widest, open);
    }
    return widest;
}

std::vector<TileGroup> tileGroups(const std::vector<Tile>& tiles,
                                  const std::vector<Centre>& centres)
{
    // Union-find over the pairs whose extents meet; a region's tiles are few thousand at most.
    std::vector<std::size_t> parent(tiles.size());
    for (std::size_t i = 0; i < parent.size(); ++i) {
        parent[i] = i;
    }
    const auto root = [&parent](std::size_t i) {
        while (parent[i] != i) {
            i = parent[i] = parent[parent[i]];
        }
        return i;
    };
    const auto halfWidth = [&tiles](std::size_t i) {
        return (tiles[i].width + 1) / 2.0 * common::degreesPerPixel(tiles[i].zoom);
    };
    const auto halfHeight = [&tiles](std::size_t i) {
        return (tiles[i].height + 1) / 2.0 * common::degreesPerPixel(tiles[i].zoom);
    };
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        for (std::size_t j = i + 1; j < tiles.size(); ++j) {
            if (std::abs(centres[i].longitude - centres[j].longitude) <=
                    halfWidth(i) + halfWidth(j) &&
                std::abs(centres[i].latitude - centres[j].latitude) <=
                    halfHeight(i) + halfHeight(j)) {
                parent[root(i)] = root(j);
            }
        }
    }
    std::map<std::size_t, TileGroup> byRoot;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const common::GeoBox box =
            common::pictureBox(centres[i], tiles[i].zoom, tiles[i].width, tiles[i].height);
        auto [it, added] = byRoot.try_emplace(root(i), TileGroup{box, 1});
        if (!added) {
            it->second = {it->second.bounds.united(box), it->second.tiles + 1};
        }
    }
    std::vector<TileGroup> groups;
    groups.reserve(byRoot.size());
    for (const auto& [r, group] : byRoot) {
        groups.push_back(group);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const TileGroup& a, const TileGroup& b) { return a.tiles > b.tiles; });
    return groups;
}

QByteArray mosaicVrt(const Mosaic& mosaic)
{
    QByteArray transform;
    for (const double value : mosaic.transform) {
        transform += (transform.isEmpty() ? "" : ", ") + common::exactNumber(value);
    }
    QByteArray vrt = "<VRTDataset rasterXSize=\"" + QByteArray::number(mosaic.width) +
                     "\" rasterYSize=\"" + QByteArray::number(mosaic.height) + "\">\n" +
                     "  <SRS dataAxisToSRSAxisMapping=\"2,1\">EPSG:4326</SRS>\n" +
                     "  <GeoTransform>" + transform + "</GeoTransform>\n";
    if (!mosaic.credit.isEmpty()) {
        vrt += "  <Metadata>\n    <MDI key=\"TIFFTAG_COPYRIGHT\">" + escaped(mosaic.credit) +
               "</MDI>\n  </Metadata>\n";
    }
    const char* const colours[] = {"Red", "Green", "Blue", "Alpha"};
    for (int band = 1; band <= 4; ++band) {
        vrt += "  <VRTRasterBand dataType=\"Byte\" band=\"" + QByteArray::number(band) + "\">\n" +
               "    <ColorInterp>" + colours[band - 1] + "</ColorInterp>\n";
        for (const Piece& piece : mosaic.pieces) {
            const QRectF& s = piece.source;
            const QRect& d = piece.destination;
            vrt += "    <ComplexSource>\n      <SourceFilename relativeToVRT=\"0\">" +
                   escaped(piece.path) +
                   "</SourceFilename>\n      <SourceBand>1</SourceBand>\n"
                   "      <SourceProperties RasterXSize=\"" +
                   QByteArray::number(piece.width) + "\" RasterYSize=\"" +
                   QByteArray::number(piece.height) + "\" DataType=\"Byte\" BlockXSize=\"" +
                   QByteArray::number(piece.width) + "\" BlockYSize=\"1\"/>\n" +
                   "      <SrcRect xOff=\"" + common::exactNumber(s.x()) + "\" yOff=\"" +
                   common::exactNumber(s.y()) + "\" xSize=\"" + common::exactNumber(s.width()) +
                   "\" ySize=\"" + common::exactNumber(s.height()) +
                   "\"/>\n      <DstRect xOff=\"" + QByteArray::number(d.x()) + "\" yOff=\"" +
                   QByteArray::number(d.y()) + "\" xSize=\"" + QByteArray::number(d.width()) +
                   "\" ySize=\"" + QByteArray::number(d.height()) + "\"/>\n" +
                   // Alpha: 255 wherever a tile is, whatever its value.
                   (band == 4 ? QByteArray("      <ScaleOffset>255</ScaleOffset>\n"
                                           "      <ScaleRatio>0</ScaleRatio>\n")
                              : "      <ColorTableComponent>" + QByteArray::number(band) +
                                    "</ColorTableComponent>\n") +
                   "    </ComplexSource>\n";
        }
        vrt += "  </VRTRasterBand>\n";
    }
    return vrt + "</VRTDataset>\n";
}

} // namespace mapexport
