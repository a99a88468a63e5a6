#include "pelagrin/storedscan.h"

#include "common/worldfile.h"
#include "pelagrin/tilename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace pelagrin {

namespace {

constexpr std::size_t maxFolderSizes = 1000;

// Sizes of other stored tiles of the plan's first map code and zoom, found by their names.
std::vector<qint64> folderSizes(const RegionPlan& plan, const std::atomic<bool>& cancelled)
{
    const QFileInfo first(plan.path(0));
    // "IDA_E_B47!5L9!5Z45.gif": the same beginning and ending, any coordinates between.
    const QString name = first.fileName();
    const qsizetype b = name.indexOf(QStringLiteral("_B"));
    const qsizetype z = name.lastIndexOf(u'Z');
    if (b < 0 || z < b) {
        return {};
    }
    const QString pattern = name.left(b + 2) + u'*' + name.mid(z);
    std::vector<qint64> sizes;
    const QFileInfoList found =
        QDir(first.path()).entryInfoList({pattern}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& tile : found) {
        if (sizes.size() == maxFolderSizes || cancelled) {
            break;
        }
        if (tile.size() > 0) {
            sizes.push_back(tile.size());
        }
    }
    return sizes;
}

} // namespace

StoredScan scanStored(const RegionPlan& plan, const std::optional<std::vector<qint64>>& positions,
                      const std::map<QString, QString>& current, const QDateTime& olderThan,
                      const std::atomic<bool>& cancelled)
{
    StoredScan scan;
    const qint64 count = positions ? static_cast<qint64>(positions->size()) : plan.tilecount();
    for (qint64 i = 0; i < count && !cancelled; ++i) {
        const qint64 position = positions ? (*positions)[static_cast<std::size_t>(i)] : i;
        const QString path = plan.path(position);
        const QFileInfo gif(path);
        if (!gif.isFile() || gif.size() == 0 || !QFileInfo::exists(common::worldFilePath(path))) {
            continue;
        }
        QFile aux(common::auxFilePath(path));
        if (!aux.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QString source = common::readAuxSource(aux.read(qint64{64} * 1024));
        const auto now = current.find(plan.mapcode(position));
        if (!source.isEmpty() && now != current.end() && !now->second.isEmpty() &&
            now->second != source) {
            continue; // of another source: it will be fetched again
        }
        scan.stored.push_back(position);
        scan.sizes.push_back(gif.size());
        if (gif.lastModified() < olderThan) {
            scan.old.push_back(position);
        }
    }
    if (scan.sizes.empty() && plan.tilecount() > 0 && !cancelled) {
        scan.sizes = folderSizes(plan, cancelled);
    }
    return scan;
}

std::vector<qint64> olderTiles(const RegionPlan& plan, const std::vector<qint64>& positions,
                               const std::vector<qint64>& missing, const QDateTime& olderThan)
{
    std::vector<qint64> old;
    for (const qint64 position : positions) {
        if (!std::binary_search(missing.begin(), missing.end(), position) &&
            QFileInfo(plan.path(position)).lastModified() < olderThan) {
            old.push_back(position);
        }
    }
    return old;
}

} // namespace pelagrin
