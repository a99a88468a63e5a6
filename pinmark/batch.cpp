#include "batch.h"

#include "failure.h"
#include "mapfile.h"
#include "numtext.h"
#include "tilenamereader.h"

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
        try {
            writemapfile(folder, name, centre->latitude, centre->longitude, centre->zoom);
        } catch (const common::Failure& failure) {
            result.failed.append(name + QStringLiteral(": ") + failure.text());
            continue;
        }
        ++result.written;
        progress(result.written);
    }
    return result;
}

QString progressText(int written)
{
    return common::numtext(written) + QStringLiteral(" map files have been created");
}

QString skippedMessage(const QStringList& skipped)
{
    return QStringLiteral("These images were left out because their names are not tile names "
                          "of the downloader:\n") +
           skipped.join(u'\n');
}

QString failedMessage(const QStringList& failed)
{
    return QStringLiteral("These calibration files could not be written; any earlier version of "
                          "them is unchanged:\n") +
           failed.join(u'\n');
}

} // namespace pinmark
