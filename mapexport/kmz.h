#pragma once

// Garmin Custom Maps: a KMZ (a zip) of doc.kml and JPEG ground overlays that handheld GPS units
// show as a map layer. The tiles are plate carree already, so each overlay is a window of the
// mosaic placed by its exact LatLonBox.
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/mosaic.h"

#include <QRect>
#include <QString>

#include <cpl_progress.h>
#include <gdal.h>

#include <vector>

namespace mapexport {

// The units take this many overlay images at most, each at most kmzImageSide pixels a side.
constexpr int garminMaxImages = 100;
constexpr int kmzImageSide = 1024;
// The coarsest a KMZ is written at: an image pixel of 64 x 64 of the tiles' pixels.
constexpr int kmzCoarsestFactor = 64;

struct KmzImage {
    QRect window;              // pixels of the mosaic
    int width = 0, height = 0; // of the JPEG
    common::GeoBox box;        // degrees, longitudes within -180..180
};

struct KmzLayout {
    int factor = 1;         // mosaic pixels an image pixel takes, each way
    qsizetype ownCount = 0; // images the region needs at its own resolution
    std::vector<KmzImage> images;
};

// The overlays of |mosaic|: cells of at most kmzImageSide pixels from its north-west corner,
// split at 180 degrees so that none crosses it (the two sides meet there exactly), and only
// those with a tile in them. When more than |maxImages| are needed, the resolution is halved
// until they fit; a limit that even kmzCoarsestFactor does not meet is bad input (status 2)
// naming the least number of images.
common::Result<KmzLayout> kmzLayout(const Mosaic& mosaic, int maxImages);

// Writes |layout| of |mosaic| (|source| is its picture, see mosaicVrt) as a KMZ at |path|:
// doc.kml first, named |name|, the credit as its description, one GroundOverlay (drawOrder 50)
// per JPEG under files/, every entry dated now; where no tile is, an image is white.
common::Status writeKmz(const Mosaic& mosaic, const KmzLayout& layout, GDALDatasetH source,
                        const QString& path, const QString& name,
                        GDALProgressFunc progress = nullptr, void* progressData = nullptr);

// The KMZ export of a job: its layout for the settings' most images, told to the settings, then
// written.
common::Status writeKmzExport(const ExportJob& job);

} // namespace mapexport
