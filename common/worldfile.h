#pragma once

// The georeferencing the downloader writes beside each tile, so that GIS programs open every
// tile in place and the exporter knows its exact centre: a world file (.gfw) and a GDAL
// auxiliary file (.gif.aux.xml) that names the coordinate system, WGS 84 longitude and
// latitude.
#include "common/tilegeometry.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace common {

// "IDA_E_B48L10Z45.gif" -> "IDA_E_B48L10Z45.gfw": the ending replaced, as GIS programs look
// for it.
QString worldFilePath(const QString& picturePath);
// "IDA_E_B48L10Z45.gif" -> "IDA_E_B48L10Z45.gif.aux.xml".
QString auxFilePath(const QString& picturePath);

// Six lines: pixel width, two rotations, minus the pixel height, and the centre of the top
// left pixel, with every digit a double holds.
QByteArray worldFileText(const GeoTransform& transform);
// With |credit|, when not empty, cleaned (see cleanCredit) and kept as the metadata item
// "attribution" of the default domain, which gdalinfo shows; and |source|, the map service's
// name for the source that drew the picture (its Map-Source header), when it is 1 to 64
// letters and digits, as the item "source"; and |etag|, the validator the service sent with the
// picture, when it is 1 to 256 visible ASCII characters, as the item "etag".
QByteArray auxFileText(const GeoTransform& transform, const QString& credit = {},
                       const QString& source = {}, const QString& etag = {});

// |value| with every digit a double holds, as GDAL's files want numbers.
QByteArray exactNumber(double value);

// The geotransform a world file's text gives, or nothing when it is not six numbers.
std::optional<GeoTransform> readWorldFile(const QByteArray& text);

// The credit that auxFileText wrote into a GDAL auxiliary file (the metadata item
// "attribution"), cleaned as any credit; empty when there is none.
QString readAuxCredit(const QByteArray& text);

// The source that auxFileText wrote into a GDAL auxiliary file; empty when there is none (a
// tile stored before sources were recorded) or it is no source's name.
QString readAuxSource(const QByteArray& text);

// The validator that auxFileText wrote into a GDAL auxiliary file; empty when there is none or
// it is no validator.
QString readAuxEtag(const QByteArray& text);

// Whether |name| can be a source's name: 1 to 64 ASCII letters and digits.
bool isSourceName(const QString& name);

} // namespace common
