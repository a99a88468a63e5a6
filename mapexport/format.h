#pragma once

// The kinds of file the exporter writes.
namespace mapexport {

enum class Format {
    GeoTiff,    // tiled, compressed, with overviews, in longitude and latitude
    MBTiles,    // Web Mercator tiles, name, bounds and credit in the metadata
    SQLiteDB,   // the same tiles as OsmAnd, Locus Map and RMaps read them
    GeoPackage, // the same tiles in the OGC container GIS and field apps open
    KMZ,        // JPEG ground overlays for Garmin handheld GPS units
    PMTiles,    // the same tiles in one file any web server serves, with a page to show them
};

// Whether |format| holds map tiles of the Web Mercator grid (MBTiles, SQLiteDB, GeoPackage,
// PMTiles).
constexpr bool isTileFormat(Format format)
{
    return format == Format::MBTiles || format == Format::SQLiteDB ||
           format == Format::GeoPackage || format == Format::PMTiles;
}

} // namespace mapexport
