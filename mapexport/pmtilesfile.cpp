#include "mapexport/pmtilesfile.h"

#include "common/errortext.h"
#include "mapexport/tilefiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <limits>

namespace mapexport {

namespace {

// The header's description of the tiles: their type, zooms, bounds and the view to open at,
// the same as MBTiles metadata gives.
pmtiles::Header pmtilesHeader(const PyramidPlan& plan, TileFormat tiles)
{
    pmtiles::Header header;
    header.tileType = tiles == TileFormat::Jpeg   ? pmtiles::TileType::Jpeg
                      : tiles == TileFormat::Webp ? pmtiles::TileType::Webp
                                                  : pmtiles::TileType::Png;
    header.minZoom = plan.minZoom;
    header.maxZoom = plan.maxZoom;
    header.centreZoom = (plan.minZoom + plan.maxZoom + 1) / 2;
    header.west = plan.bounds.west;
    header.south = plan.bounds.south;
    header.east = plan.bounds.east;
    header.north = plan.bounds.north;
    header.centreLongitude = plan.centreLongitude;
    header.centreLatitude = (plan.bounds.north + plan.bounds.south) / 2;
    return header;
}

QByteArray pmtilesMetadata(const PyramidPlan& plan, const Mosaic& mosaic, const QString& name,
                           TileFormat tiles)
{
    const pmtiles::Header h = pmtilesHeader(plan, tiles);
    QJsonObject metadata{
        {QStringLiteral("name"), name},
        {QStringLiteral("description"), name},
        {QStringLiteral("type"), QStringLiteral("baselayer")},
        {QStringLiteral("version"), QStringLiteral("1.1")},
        {QStringLiteral("format"), QString::fromLatin1(tileFormatName(tiles))},
        {QStringLiteral("minzoom"), plan.minZoom},
        {QStringLiteral("maxzoom"), plan.maxZoom},
        {QStringLiteral("bounds"), QJsonArray{h.west, h.south, h.east, h.north}},
        {QStringLiteral("center"), QJsonArray{h.centreLongitude, h.centreLatitude, h.centreZoom}},
    };
    if (!mosaic.credit.isEmpty()) {
        metadata.insert(QStringLiteral("attribution"), mosaic.credit.toHtmlEscaped());
    }
    return QJsonDocument(metadata).toJson(QJsonDocument::Compact);
}

} // namespace

PmtilesFile::PmtilesFile(const QString& path, const QString& spool) : archive_(path), spool_(spool)
{
    if (!archive_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error_ = failed(QStringLiteral("file"), archive_);
    } else if (!spool_.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        error_ = failed(QStringLiteral("tiles' spool"), spool_);
    }
}

PmtilesFile::~PmtilesFile()
{
    spool_.remove();
}

common::Error PmtilesFile::failed(const QString& what, const QFile& file)
{
    return common::makeError(
        common::ErrorKind::Permanent,
        QStringLiteral("the %1 cannot be written: %2").arg(what, file.errorString()), 1);
}

common::Status PmtilesFile::put(int zoom, std::int64_t column, std::int64_t row,
                                const QByteArray& bytes)
{
    if (error_) {
        return *error_;
    }
    const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    Digest digest{};
    std::memcpy(&digest.high, hash.constData(), sizeof digest.high);
    std::memcpy(&digest.low, hash.constData() + sizeof digest.high, sizeof digest.low);
    const auto [known, added] = known_.try_emplace(digest, contents_.size());
    if (added) {
        const auto at = static_cast<std::uint64_t>(spool_.pos());
        if (spool_.write(bytes) != bytes.size()) {
            return failed(QStringLiteral("tiles' spool"), spool_);
        }
        contents_.push_back({at, static_cast<std::uint32_t>(bytes.size()), 0, false});
    }
    tiles_.push_back(
        {pmtiles::tileId(zoom, static_cast<std::uint64_t>(column), static_cast<std::uint64_t>(row)),
         known->second});
    return {};
}

common::Status PmtilesFile::finish(pmtiles::Header header, const QByteArray& metadata,
                                   std::size_t rootBudget)
{
    std::stable_sort(tiles_.begin(), tiles_.end(),
                     [](const Tile& a, const Tile& b) { return a.id < b.id; });
    // The contents in the order their first tile comes, each after the one before; a run is
    // the same content for consecutive ids.
    std::vector<std::size_t> order;
    std::vector<pmtiles::Entry> entries;
    std::uint64_t placedBytes = 0;
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        const Tile& tile = tiles_[i];
        if (i > 0 && tile.id == tiles_[i - 1].id) {
            continue; // a tile given twice: the first stays
        }
        Content& content = contents_[tile.content];
        if (!content.placed) {
            content.placed = true;
            content.archiveOffset = placedBytes;
            placedBytes += content.length;
            order.push_back(tile.content);
        }
        ++header.addressedTiles;
        pmtiles::Entry* last = entries.empty() ? nullptr : &entries.back();
        if (last != nullptr && last->tileId + last->runLength == tile.id &&
            last->offset == content.archiveOffset && last->length == content.length &&
            last->runLength < std::numeric_limits<std::uint32_t>::max()) {
            ++last->runLength;
        } else {
            entries.push_back({tile.id, content.archiveOffset, content.length, 1});
        }
    }
    const pmtiles::Directories dirs = pmtiles::directories(entries, rootBudget);
    const QByteArray packedMetadata = pmtiles::gzip(metadata);
    header.rootOffset = pmtiles::headerBytes;
    header.rootLength = static_cast<std::uint64_t>(dirs.root.size());
    header.metadataOffset = header.rootOffset + header.rootLength;
    header.metadataLength = static_cast<std::uint64_t>(packedMetadata.size());
    header.leavesOffset = header.metadataOffset + header.metadataLength;
    header.leavesLength = static_cast<std::uint64_t>(dirs.leaves.size());
    header.tilesOffset = header.leavesOffset + header.leavesLength;
    header.tilesLength = placedBytes;
    header.tileEntries = entries.size();
    header.tileContents = order.size();

    for (const QByteArray& part :
         {pmtiles::header(header), dirs.root, packedMetadata, dirs.leaves}) {
        if (archive_.write(part) != part.size()) {
            return failed(QStringLiteral("file"), archive_);
        }
    }
    QByteArray bytes;
    for (const std::size_t index : order) {
        const Content& content = contents_[index];
        bytes.resize(content.length);
        if (!spool_.seek(static_cast<qint64>(content.spoolOffset)) ||
            spool_.read(bytes.data(), content.length) != static_cast<qint64>(content.length)) {
            return failed(QStringLiteral("tiles' spool"), spool_);
        }
        if (archive_.write(bytes) != bytes.size()) {
            return failed(QStringLiteral("file"), archive_);
        }
    }
    if (!archive_.flush()) {
        return failed(QStringLiteral("file"), archive_);
    }
    archive_.close();
    return {};
}

common::Status writePmtiles(const ExportJob& job)
{
    const PyramidPlan plan = planPyramid(job.mosaic);
    PmtilesFile file(job.path, job.path + QStringLiteral(".spool"));
    return writeTileSink(job, plan, file, [&](TileFormat tiles) {
        return file.finish(pmtilesHeader(plan, tiles),
                           pmtilesMetadata(plan, job.mosaic, job.name, tiles));
    });
}

} // namespace mapexport
