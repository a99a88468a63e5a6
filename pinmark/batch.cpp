#include "pinmark/batch.h"

#include "common/errortext.h"
#include "common/tilenamereader.h"
#include "pinmark/mapfile.h"

#include <algorithm>
#include <set>

namespace pinmark {

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

} // namespace

BatchResult runBatch(const common::TileFolder& folder, const QStringList& names,
                     const std::function<void(int)>& progress)
{
    BatchResult result;
    std::set<QString> mapFiles;
    for (const QString& name : names) {
        // A line break in a name would break the calibration file's lines.
        const bool control = std::any_of(name.begin(), name.end(), isControl);
        const auto centre = control ? std::nullopt : common::readTileName(name);
        if (!centre) {
            QString shown = name;
            std::replace_if(shown.begin(), shown.end(), isControl, u'?');
            result.skipped.append(shown);
            continue;
        }
        const QString mapFile = mapFileName(name);
        if (!mapFiles.insert(mapFile).second) {
            result.clashed.append(name + QStringLiteral(" (") + mapFile + u')');
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
