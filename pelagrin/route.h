#pragma once

// A route read from a GPX or KML/KMZ file, for the region along a route.
#include "common/result.h"
#include "common/tilegeometry.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace pelagrin {

// Files and points past these are refused rather than read.
constexpr qint64 maxRouteFileBytes = qint64{50} * 1000 * 1000;
constexpr qint64 maxRoutePoints = 1'000'000;

// The lines of a route, each its places in order: the tracks' segments and the routes of a GPX
// file, the LineStrings of a KML file.
struct Route {
    std::vector<std::vector<common::Centre>> lines;
    // Points left out because a coordinate was no finite number or out of range.
    qint64 skipped = 0;

    qint64 points() const;
};

// The route in the file at |path|: GPX 1.1, KML, or KMZ (a zip archive holding a KML file).
// A bad-input error, in one line for the user, when the file cannot be read, is larger than
// maxRouteFileBytes (a KMZ's KML file too, once unpacked), holds more than maxRoutePoints points
// or no line with a usable point, or declares a document type or entities: those are refused
// before the XML is read, so no entity is ever expanded or fetched. No other file is read.
common::Result<Route> readRoute(const QString& path);

// The route in the GPX or KML text |xml|; |name| names the file in errors.
common::Result<Route> routeFromXml(const QByteArray& xml, const QString& name);

} // namespace pelagrin
