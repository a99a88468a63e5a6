#pragma once

// MBTiles as map apps read it: an SQLite file of PNG tiles, rows counted from the south, with
// the metadata that tells an app where to open it and whose map it is.
#include "common/result.h"
#include "mapexport/mosaic.h"

#include <QString>

#include <cpl_progress.h>
#include <gdal.h>

namespace mapexport {

// Writes the tiles of |mosaic| (|source| is its picture, see mosaicVrt) into a new MBTiles file
// |path|, named |name|. Its metadata holds the zoom levels it stores, its bounds (the west one
// greater than the east one across 180 degrees), a centre to open it at and the credit, as HTML.
common::Status writeMbtiles(const Mosaic& mosaic, GDALDatasetH source, const QString& path,
                            const QString& name, GDALProgressFunc progress = nullptr,
                            void* progressData = nullptr);

} // namespace mapexport
