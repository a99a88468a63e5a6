#pragma once

#include "common/tilegeometry.h"

#include <QString>

#include <optional>

namespace common {

// What a tile file name tells: its centre and its zoom.
struct TileCentre : Centre {
    double zoom = 0;
};

// Reads a tile file name (without folder) such as IDA_E_B48!50L11!25Z150.gif: the latitude
// stands between the first "B" and the first "L", the longitude between that "L" and the first
// "Z", the zoom between that "Z" and the last "." (the one that opens the file ending, so a
// zoom of 12.5 is read whole); "!" stands for the decimal point. Nothing when a marker is
// missing or the markers are out of order, or a field is not a plain decimal number.
std::optional<TileCentre> readTileName(const QString& fileName);

} // namespace common
