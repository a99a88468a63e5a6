#pragma once

#include "pelagrin/settings.h"

#include <QString>

namespace pelagrin {

// Tile file names carry the map code's letter, the centre and the zoom, for example
// IDA_E_B48!50L11!25Z150.gif: "!" stands for the decimal point and blanks are removed. The
// functions return the file name proper; common::TileFolder::pathOf() puts it into the tile
// folder.

// Name of a region tile, made from the (already shifted) centre, cut after the second decimal.
QString regionTileName(const MapSettings& settings);

// Name of the single high-resolution image, with the centre written in full.
QString singleImageName(const MapSettings& settings);

// Coordinate part of a region tile name: numtext cut after the second decimal, not rounded.
QString regionCoordinate(double value);

} // namespace pelagrin
