#pragma once

#include "pelagrin/settings.h"

#include <QString>

namespace pelagrin {

// Request sizes: mode 1 asks for a 1999 x 1999 pixel image, mode 2 for 320 x 320.
constexpr int modeLarge = 1;
// The side of a mode 1 image, in pixels.
constexpr int largeSide = 1999;
constexpr int modePreview = 2;
// The side of a mode 2 image, in pixels.
constexpr int previewSide = 320;

// The map code corrected by longitude: map type 1 becomes the American map strictly between
// -150 and -30, and the American map becomes map type 1 again east of -30.
QString correctedMapcode(const QString& mapcode, double longitude);

// Puts the corrected map code into |settings|, as every request of the window does.
void correctMapcode(MapSettings& settings);

// The request URL for |settings| on the map service at |host| ("host:port"), with the map
// code corrected; any mode other than 1 or 2 gives an empty string. Numbers go in as numtext
// writes them, leading blanks included.
QString generateurl(const MapSettings& settings, int mode, const QString& host);

} // namespace pelagrin
