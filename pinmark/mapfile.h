#pragma once

#include "common/result.h"
#include "common/tilefolder.h"

#include <QByteArray>
#include <QString>

namespace pinmark {

// The calibration file of a tile image: 51 lines of "OziExplorer Map Data File Version 2.2"
// text. Two calibration points sit at fixed pixels near the image's north-west and south-east
// corners and carry whole degrees of the corners, which lie zoom / 100 degrees from the centre
// in each direction (no latitude correction).

// The file's name: the image name with every ".gif" (exact case) removed, then ".map".
QString mapFileName(const QString& imageName);

// Where the calibration file of |imageName| in |folder| goes.
QString mapFilePath(const common::TileFolder& folder, const QString& imageName);

// The file's bytes for an image of centre |lat|, |lon| (degrees) and |zoom|: CR LF after every
// line, the last one included; no byte order mark.
QByteArray mapFileText(const QString& imageName, double lat, double lon, double zoom);
// The same bytes in |text|, which is emptied first; a batch passes one buffer for every file.
void writeMapFileText(QByteArray& text, const QString& imageName, double lat, double lon,
                      double zoom);

// Writes the calibration file of |imageName| into |folder|, replacing an earlier one as a
// whole; an error names the file.
common::Status writemapfile(const common::TileFolder& folder, const QString& imageName, double lat,
                            double lon, double zoom);

} // namespace pinmark
