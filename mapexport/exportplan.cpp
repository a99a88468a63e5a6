#include "mapexport/exportplan.h"

#include "common/errortext.h"
#include "mapexport/kmz.h"
#include "mapexport/ongrid.h"
#include "mapexport/regionpage.h"
#include "mapexport/tilepyramid.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>
#include <utility>

namespace mapexport {

std::vector<TileSet> tileSets(const std::vector<Tile>& tiles)
{
    std::map<std::tuple<double, int, QString>, std::vector<Tile>> byKind;
    for (const Tile& tile : tiles) {
        byKind[{tile.zoom, tile.mapType, tile.source}].push_back(tile);
    }
    std::vector<TileSet> sets;
    for (const auto& [kind, members] : byKind) {
        const std::vector<TileGroup> groups = tileGroups(members, exactCentres(members));
        TileSet set;
        set.choice = {std::get<0>(kind), std::get<1>(kind), std::get<2>(kind)};
        set.credit = creditOf(members).section(QStringLiteral("; "), 0, 0);
        set.tiles = static_cast<int>(members.size());
        set.regions = static_cast<int>(groups.size());
        for (std::size_t i = 0; i < groups.size(); ++i) {
            set.bounds = i == 0 ? groups[i].bounds : set.bounds.united(groups[i].bounds);
        }
        sets.push_back(set);
    }
    // Sets of one zoom and map type from several sources say which is which.
    for (TileSet& set : sets) {
        set.several = std::count_if(sets.begin(), sets.end(), [&set](const TileSet& other) {
                          return other.choice.zoom == set.choice.zoom &&
                                 other.choice.mapType == set.choice.mapType;
                      }) > 1;
    }
    // Sorted by position, the sets moved once each.
    std::vector<std::size_t> order(sets.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&sets](std::size_t a, std::size_t b) {
        return sets[a].tiles > sets[b].tiles;
    });
    std::vector<TileSet> sorted;
    sorted.reserve(sets.size());
    for (const std::size_t i : order) {
        sorted.push_back(std::move(sets[i]));
    }
    return sorted;
}

QString describe(const TileSet& set)
{
    QString line = QStringLiteral("zoom %1, map type %2: %3 tiles, %4 to %5 N, %6 to %7 E")
                       .arg(*set.choice.zoom)
                       .arg(*set.choice.mapType)
                       .arg(set.tiles)
                       .arg(set.bounds.south, 0, 'f', 2)
                       .arg(set.bounds.north, 0, 'f', 2)
                       .arg(set.bounds.west, 0, 'f', 2)
                       .arg(set.bounds.east, 0, 'f', 2);
    if (set.regions > 1) {
        line += QStringLiteral(" (%1 separate regions, exported as one file with gaps)")
                    .arg(set.regions);
    }
    if (set.several && set.choice.source) {
        line += QStringLiteral(", source %1")
                    .arg(set.choice.source->isEmpty() ? QStringLiteral("none recorded")
                                                      : *set.choice.source);
        if (!set.credit.isEmpty()) {
            line += QStringLiteral(" (%1)").arg(common::printable(set.credit)); // as stored
        }
    }
    return line;
}

QString suggestedName(const TileSet& set, Format format)
{
    const double lat = (set.bounds.south + set.bounds.north) / 2;
    double lon = (set.bounds.west + set.bounds.east) / 2;
    lon -= 360 * std::round(lon / 360); // within -180..180
    return QStringLiteral("map-%1%2-%3%4-z%5.%6")
        .arg(std::abs(lat), 0, 'f', 2)
        .arg(lat < 0 ? QStringLiteral("S") : QStringLiteral("N"))
        .arg(std::abs(lon), 0, 'f', 2)
        .arg(lon < 0 ? QStringLiteral("W") : QStringLiteral("E"))
        .arg(*set.choice.zoom)
        .arg(suggestedEnding(format));
}

common::Result<Prepared> prepareExport(const Scan& scan, const Choice& choice, Format format)
{
    const auto chosen = chooseTiles(scan.tiles, choice);
    if (!chosen) {
        return chosen.error();
    }
    std::vector<Tile> tiles = *chosen;
    std::vector<Centre> centres = exactCentres(tiles);
    Prepared prepared;
    if (isTileFormat(format)) {
        OnGrid onGrid = keepOnGrid(std::move(tiles), std::move(centres));
        prepared.leftOut = onGrid.leftOut;
        if (onGrid.tiles.empty()) {
            return prepared;
        }
        tiles = std::move(onGrid.tiles);
        centres = std::move(onGrid.centres);
    }
    if (const auto groups = tileGroups(tiles, centres); groups.size() > 1) {
        for (const TileGroup& g : groups) {
            prepared.groups.append(QStringLiteral("%1 tiles from %2 to %3 N, %4 to %5 E")
                                       .arg(g.tiles)
                                       .arg(g.bounds.south, 0, 'f', 4)
                                       .arg(g.bounds.north, 0, 'f', 4)
                                       .arg(g.bounds.west, 0, 'f', 4)
                                       .arg(g.bounds.east, 0, 'f', 4));
        }
    }
    prepared.mosaic = planMosaic(tiles, centres);
    prepared.mosaic.credit = creditOf(tiles);
    prepared.tiles = static_cast<int>(tiles.size());
    return prepared;
}

common::Result<ExportReport> runExport(const Prepared& prepared, Format format,
                                       const QString& output, ExportSettings settings,
                                       GDALProgressFunc progress, void* progressData)
{
    ExportReport report;
    report.file = QFileInfo(output).absoluteFilePath();
    report.tiles = prepared.tiles;
    report.width = prepared.mosaic.width;
    report.height = prepared.mosaic.height;
    report.leftOut = prepared.leftOut;
    report.formatChosen = settings.tiles == TileFormat::Auto;
    settings.tilesWritten = [&report](TileFormat written) { report.tileFormat = written; };
    settings.kmzPlanned = [&report](const KmzLayout& layout) {
        report.images = static_cast<int>(layout.images.size());
        report.factor = layout.factor;
    };
    if (isTileFormat(format)) {
        const PyramidPlan plan = planPyramid(prepared.mosaic);
        report.minZoom = plan.minZoom;
        report.maxZoom = plan.maxZoom;
    }
    const QString name = QFileInfo(output).completeBaseName();
    if (auto written =
            writeExport(prepared.mosaic, format, output, name, progress, progressData, settings);
        !written) {
        return written.error();
    }
    report.bytes = QFileInfo(output).size();
    if (format == Format::PMTiles && settings.page) {
        report.page = QFileInfo(pagePath(output)).absoluteFilePath();
    }
    return report;
}

QString summaryText(const ExportReport& report)
{
    const QLocale c = QLocale::c();
    QStringList lines{QStringLiteral("Written: %1 (%2)")
                          .arg(common::printable(report.file), c.formattedDataSize(report.bytes))};
    if (!report.page.isEmpty()) {
        lines.append(QStringLiteral("Page: %1 (open it from a web server that serves its folder, "
                                    "or from the disk and pick the archive)")
                         .arg(common::printable(report.page)));
    }
    if (report.minZoom >= 0) {
        lines.append(
            QStringLiteral("Zoom levels %1 to %2").arg(report.minZoom).arg(report.maxZoom));
    }
    if (report.tileFormat) {
        const TileFormat f = *report.tileFormat;
        lines.append(QStringLiteral("Tiles stored as %1%2")
                         .arg(f == TileFormat::Png    ? QStringLiteral("PNG")
                              : f == TileFormat::Jpeg ? QStringLiteral("JPEG")
                                                      : QStringLiteral("WebP"),
                              !report.formatChosen ? QString()
                              : f == TileFormat::Png
                                  ? QStringLiteral(" (a drawn map)")
                                  : QStringLiteral(" (a photograph or shading)")));
    }
    if (report.images > 0) {
        lines.append(report.factor > 1
                         ? QStringLiteral("%1 images at 1/%2 of the tiles' resolution")
                               .arg(report.images)
                               .arg(report.factor)
                         : QStringLiteral("%1 images").arg(report.images));
    }
    lines.append(QStringLiteral("%1 tiles written, %2 x %3 pixels")
                     .arg(report.tiles)
                     .arg(report.width)
                     .arg(report.height));
    if (!report.leftOut.isEmpty()) {
        lines.append(QStringLiteral("Left out:"));
        for (const QString& why : report.leftOut) {
            lines.append(QStringLiteral("  ") + common::printable(why)); // a name on its line
        }
    }
    return lines.join(u'\n');
}

} // namespace mapexport
