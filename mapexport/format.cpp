#include "mapexport/format.h"

#include "mapexport/geotiff.h"
#include "mapexport/kmz.h"
#include "mapexport/pmtilesfile.h"
#include "mapexport/regionpage.h"
#include "mapexport/tilefiles.h"

#include <QFileInfo>

#include <algorithm>

namespace mapexport {

const std::vector<FormatUnit>& formatUnits()
{
    static const std::vector<FormatUnit> units = {
        {Format::MBTiles,
         {QStringLiteral("mbtiles")},
         QStringLiteral("Web Mercator tiles, for map apps"),
         QStringLiteral("Map apps"),
         true,
         writeMbtiles},
        {Format::SQLiteDB,
         {QStringLiteral("sqlitedb")},
         QStringLiteral("the same tiles for OsmAnd, Locus Map and RMaps"),
         QStringLiteral("OsmAnd, Locus Map, RMaps"),
         true,
         writeSqlitedb},
        {Format::KMZ,
         {QStringLiteral("kmz")},
         QStringLiteral("overlay images in a KMZ, for Garmin units"),
         QStringLiteral("Garmin units"),
         false,
         writeKmzExport},
        {Format::GeoPackage,
         {QStringLiteral("gpkg")},
         QStringLiteral("the same tiles as a GeoPackage, for GIS and field apps"),
         QStringLiteral("Field and GIS apps"),
         true,
         writeGeoPackage},
        {Format::GeoTiff,
         {QStringLiteral("tif"), QStringLiteral("tiff")},
         QStringLiteral("a tiled, compressed GeoTIFF in longitude and latitude, for GIS\n"
                        "programs"),
         QStringLiteral("GIS programs"),
         false,
         writeGeoTiff},
        {Format::PMTiles,
         {QStringLiteral("pmtiles")},
         QStringLiteral("the same tiles in one file for any web server, and OUTPUT.html\n"
                        "beside it, a page that shows them (see --no-page)"),
         QStringLiteral("A web page (PMTiles)"),
         true,
         writePmtiles,
         writeRegionPage,
         pageProblem},
    };
    return units;
}

const FormatUnit& unitOf(Format format)
{
    const auto& units = formatUnits();
    return *std::find_if(units.begin(), units.end(),
                         [format](const FormatUnit& u) { return u.format == format; });
}

bool isTileFormat(Format format)
{
    return unitOf(format).tiles;
}

std::optional<Format> formatOf(const QString& output)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    for (const FormatUnit& unit : formatUnits()) {
        if (unit.endings.contains(suffix)) {
            return unit.format;
        }
    }
    return std::nullopt;
}

QString suggestedEnding(Format format)
{
    for (const FormatUnit& unit : formatUnits()) {
        if (unit.format == format) {
            return unit.endings.front();
        }
    }
    return {};
}

QString formatHelp()
{
    constexpr int column = 20; // where the use starts, after "  OUTPUT.ending"
    QString text;
    for (const FormatUnit& unit : formatUnits()) {
        QString use = unit.use;
        for (qsizetype i = 1; i < unit.endings.size(); ++i) {
            use += QStringLiteral(" (.%1 too)").arg(unit.endings[i]);
        }
        use.replace(u'\n', u'\n' + QString(column, u' '));
        text += QStringLiteral("  OUTPUT.%1").arg(unit.endings.front()).leftJustified(column) +
                use + u'\n';
    }
    return text;
}

QString formatEndings()
{
    QStringList endings;
    for (const FormatUnit& unit : formatUnits()) {
        for (const QString& ending : unit.endings) {
            endings.append(u'.' + ending);
        }
    }
    const QString last = endings.takeLast();
    return endings.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace mapexport
