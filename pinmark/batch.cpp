#include "pinmark/batch.h"

#include "common/errortext.h"
#include "common/tilenamereader.h"
#include "pinmark/mapfile.h"

namespace pinmark {

BatchResult runBatch(const common::TileFolder& folder, const QStringList& names,
                     const std::function<void(int)>& progress)
{
    BatchResult result;
    for (const QString& name : names) {
        const auto centre = common::readTileName(name);
        if (!centre) {
            result.skipped.append(name);
            continue;
        }
        const common::Status written =
            writemapfile(folder, name, centre->latitude, centre->longitude, centre->zoom);
        if (!written) {
            result.failed.append(name + QStringLiteral(": ") + common::errorText(written.error()));
            continue;
        }
        ++result.written;
        progress(result.written);
    }
    return result;
}

} // namespace pinmark
