#pragma once

// The exporter's command line.
#include "common/result.h"
#include "mapexport/gdalexport.h"
#include "mapexport/tiles.h"

#include <QString>
#include <QStringList>

namespace mapexport {

struct Options {
    QString folder; // empty: the folder mymaps of the working folder
    QString output;
    Format format = Format::GeoTiff;
    Choice choice;
    QString attribution; // empty: the tiles' own credit
    ExportSettings settings;
};

inline const QString usageText =
    QStringLiteral("usage: mapexport [--folder DIR] [--zoom Z] [--type 1|2] [--attribution TEXT] "
                   "[--tile-format auto|png|jpeg] [--max-images N] OUTPUT");

inline const QString helpText =
    usageText +
    QStringLiteral(
        "\n"
        "Writes the tiles of the folder mymaps in the working folder as one file, each tile\n"
        "placed exactly where the map service drew it:\n"
        "  OUTPUT.mbtiles   Web Mercator tiles, for map apps\n"
        "  OUTPUT.sqlitedb  the same tiles for OsmAnd, Locus Map and RMaps\n"
        "  OUTPUT.gpkg      the same tiles as a GeoPackage, for GIS and field apps\n"
        "  OUTPUT.kmz       overlay images in a KMZ, for Garmin units\n"
        "  OUTPUT.tif       a tiled, compressed GeoTIFF in longitude and latitude, for GIS\n"
        "                   programs (.tiff too)\n"
        "Where tiles overlap, the one whose centre is nearer wins. An existing OUTPUT is replaced\n"
        "only when the new file is whole.\n"
        "  --folder DIR  the folder that holds the tiles, instead of mymaps\n"
        "  --zoom Z      only the tiles of zoom Z\n"
        "  --type 1|2    only the tiles of map type 1 (letters E and U) or 2 (letter W)\n"
        "  --attribution TEXT  the map's credit in the file (default: the one the map service\n"
        "                sent with the tiles, kept in their .gif.aux.xml)\n"
        "  --tile-format auto|png|jpeg  how MBTiles, SQLiteDB and GeoPackage tiles are stored\n"
        "                (default auto: PNG for tiles with transparency or at most 256 colours,\n"
        "                else JPEG)\n"
        "  --max-images N  the most overlay images of a KMZ (default 100, what Garmin units take;\n"
        "                more halves the resolution until they fit)\n"
        "  --help        this text\n"
        "  --version     the program's version\n");

// The options of |arguments| (without the program's name), or a bad-input error with exit
// status 2 whose text is the reason and the usage line. "--help" and "--version" are answered
// before this.
common::Result<Options> parseOptions(const QStringList& arguments);

} // namespace mapexport
