#pragma once

// Writing a mosaic as one file through GDAL.
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/mosaic.h"
#include "mapexport/tilepyramid.h"

#include <QString>
#include <QStringList>

#include <cpl_progress.h>

#include <functional>
#include <optional>
#include <vector>

namespace mapexport {

// Why nothing can be written to |output|, found before any work: it is a folder, or the folder
// it would go into is missing; nothing when it may be tried.
std::optional<QString> outputProblem(const QString& output);

// Writes |mosaic| to |output| in |format|, named |name| where the format keeps a name. The file
// is made under a hidden temporary name beside |output| and takes its place only when whole,
// so an earlier file stays until then, and nothing is left when the export fails. |progress|,
// when given, is called as GDAL's tools call it, with the part done from 0 to 1 and
// |progressData|.
common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress = nullptr,
                           void* progressData = nullptr, const ExportSettings& settings = {});

} // namespace mapexport
