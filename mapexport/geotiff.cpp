#include "mapexport/geotiff.h"

#include "common/gdal.h"

#include <QFile>

namespace mapexport {

namespace gdal = common::gdal;

common::Status writeGeoTiff(const ExportJob& job)
{
    CPLStringList arguments;
    for (const char* argument : {"-of", "COG", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2",
                                 "-co", "SPARSE_OK=TRUE", "-co", "BIGTIFF=IF_SAFER", "-co",
                                 "NUM_THREADS=ALL_CPUS", "-co", "OVERVIEW_RESAMPLING=AVERAGE"}) {
        arguments.AddString(argument);
    }
    auto written = gdal::translate(QFile::encodeName(job.path).toStdString(), job.source, arguments,
                                   job.progress, job.progressData);
    if (!written) {
        return common::permanent("the file cannot be written: " + written.error().text, 1);
    }
    const gdal::ErrorCapture errors;
    written.value().reset(); // writes what is still in the cache
    if (errors.failed()) {
        return errors.error(common::ErrorKind::Permanent, "the file cannot be finished", 1);
    }
    return {};
}

} // namespace mapexport
