#pragma once

// The page written beside a PMTiles archive: one HTML file that shows the archive on a slippy
// map, with Leaflet's style and script (from Debian's libjs-leaflet), the archive reader and its
// own script inlined, so that it loads nothing from any other address.
#include "common/result.h"
#include "mapexport/format.h"

#include <QByteArray>
#include <QString>

namespace mapexport {

// Where Leaflet is installed.
extern const QString leafletFolder;

// The page for the archive |archiveFileName| (the name of a file in the page's folder), titled
// |title|, with Leaflet taken from |leaflet|; an error naming the file when Leaflet is missing.
common::Result<QByteArray> regionPage(const QString& archiveFileName, const QString& title,
                                      const QString& leaflet = leafletFolder);

// Why the page cannot be made (Leaflet is missing), found before any work; nothing when it can.
std::optional<QString> pageProblem(const QString& leaflet = leafletFolder);
// The same for an export with |settings|: nothing when they leave the page out.
std::optional<QString> pageProblem(const ExportSettings& settings);

// The page written beside the PMTiles archive |output|: NAME.html for NAME.pmtiles.
QString pagePath(const QString& output);

// Writes the page beside the archive |output| unless the settings leave it out.
common::Status writeRegionPage(const QString& output, const ExportSettings& settings);

} // namespace mapexport
