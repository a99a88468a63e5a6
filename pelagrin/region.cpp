#include "pelagrin/region.h"

#include "common/errortext.h"
#include "common/gifcheck.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/tilename.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace pelagrin {

std::optional<std::vector<double>> loopValues(double start, double bound, double step,
                                              std::size_t limit)
{
    std::vector<double> values;
    for (double counter = start; step >= 0 ? counter <= bound : counter >= bound; counter += step) {
        if (values.size() == limit) {
            return std::nullopt;
        }
        values.push_back(counter);
    }
    return values;
}

common::Result<RegionPlan> planRegion(const MapSettings& settings, double stepb, double stepl,
                                      const QString& host, const common::TileFolder& folder)
{
    auto latitudes = loopValues(settings.endlat, settings.beginlat, stepb);
    auto longitudes = loopValues(settings.beginlong, settings.endlong, stepl);
    if (!latitudes || !longitudes) {
        return common::makeError(common::ErrorKind::BadInput, regionTooLargeMessage);
    }
    RegionPlan plan(folder);
    plan.settings_ = settings;
    plan.host_ = host;
    plan.latitudes_ = std::move(*latitudes);
    plan.longitudes_ = std::move(*longitudes);
    // The correction only moves between map type 1 and the American map. A tile whose
    // longitude gives the same code from both decides the code whatever came before it; the
    // others (west of -150, exactly -30) keep what they find.
    const QString start = settings.mapcode;
    const bool corrected = start == mapcodeType1 || start == mapcodeAmerica;
    std::optional<QString> last;
    plan.codeUpTo_.reserve(plan.longitudes_.size());
    for (const double longitude : plan.longitudes_) {
        const double shifted = longitude + centreShift;
        const QString fromType1 = correctedMapcode(mapcodeType1, shifted);
        if (corrected && fromType1 == correctedMapcode(mapcodeAmerica, shifted)) {
            last = fromType1;
        }
        plan.codeUpTo_.push_back(last);
    }
    plan.codeAfterFirstRow_ = last.value_or(start);
    return plan;
}

MapSettings RegionPlan::settingsAt(qint64 position) const
{
    const auto columns = static_cast<qint64>(longitudes_.size());
    const auto row = static_cast<std::size_t>(position / columns);
    const auto column = static_cast<std::size_t>(position % columns);
    MapSettings s = settings_;
    s.centre.latitude = latitudes_[row] + centreShift;
    s.centre.longitude = longitudes_[column] + centreShift;
    const QString entering = row == 0 ? settings_.mapcode : codeAfterFirstRow_;
    s.mapcode = codeUpTo_[column].value_or(entering);
    return s;
}

QString RegionPlan::previewUrl(qint64 position) const
{
    return generateurl(settingsAt(position), modePreview, host_);
}

TileJob RegionPlan::job(qint64 position) const
{
    const MapSettings s = settingsAt(position);
    TileJob job;
    job.position = position;
    job.centre = s.centre;
    job.mapcode = s.mapcode;
    job.url = generateurl(s, modeLarge, host_);
    job.path = folder_.pathOf(regionTileName(s));
    job.place = common::pictureGeoTransform(s.centre, s.zoom, largeSide, largeSide);
    return job;
}

QString RegionPlan::path(qint64 position) const
{
    return folder_.pathOf(regionTileName(settingsAt(position)));
}

common::GeoBox RegionPlan::tileBox(qint64 position) const
{
    const auto columns = static_cast<qint64>(longitudes_.size());
    const common::Centre centre{
        latitudes_[static_cast<std::size_t>(position / columns)] + centreShift,
        longitudes_[static_cast<std::size_t>(position % columns)] + centreShift};
    return common::pictureBox(centre, settings_.zoom, largeSide, largeSide);
}

bool tilePresent(const TileJob& job)
{
    return QFileInfo(common::worldFilePath(job.path)).isFile() &&
           QFileInfo(common::auxFilePath(job.path)).isFile() &&
           common::isWholeGifFile(QFile::encodeName(job.path).toStdString());
}

namespace {

// Runs |each| for every position of |plan|, or for those at |among|.
template <typename Each>
void forEachPosition(const RegionPlan& plan, const std::optional<std::vector<qint64>>& among,
                     Each&& each)
{
    if (among) {
        for (const qint64 position : *among) {
            each(position);
        }
        return;
    }
    for (qint64 position = 0; position < plan.tilecount(); ++position) {
        each(position);
    }
}

} // namespace

std::vector<qint64> missingTiles(const RegionPlan& plan,
                                 const std::optional<std::vector<qint64>>& among)
{
    std::vector<qint64> missing;
    forEachPosition(plan, among, [&](qint64 position) {
        if (!tilePresent(plan.job(position))) {
            missing.push_back(position);
        }
    });
    return missing;
}

QString storedSource(const TileJob& job)
{
    QFile aux(common::auxFilePath(job.path));
    if (!aux.open(QIODevice::ReadOnly)) {
        return {};
    }
    return common::readAuxSource(aux.read(qint64{64} * 1024));
}

StoredTiles storedTiles(const RegionPlan& plan, const std::vector<qint64>& missing,
                        const std::optional<std::vector<qint64>>& among)
{
    StoredTiles stored;
    auto next = missing.begin();
    forEachPosition(plan, among, [&](qint64 position) {
        if (next != missing.end() && *next == position) {
            ++next;
            return;
        }
        const TileJob job = plan.job(position);
        stored.firstOfCode.try_emplace(job.mapcode, position);
        if (QString source = storedSource(job); !source.isEmpty()) {
            stored.recorded.emplace(position, std::move(source));
        }
    });
    return stored;
}

std::vector<qint64> otherSourceTiles(const RegionPlan& plan, const StoredTiles& stored,
                                     const std::map<QString, QString>& current)
{
    std::vector<qint64> other;
    for (const auto& [position, source] : stored.recorded) {
        const auto now = current.find(plan.job(position).mapcode);
        if (now != current.end() && !now->second.isEmpty() && now->second != source) {
            other.push_back(position);
        }
    }
    return other;
}

std::optional<double> localeDivisor(const QString& text, const QLocale& locale)
{
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

bool usableStep(double step)
{
    return std::isfinite(step) && step != 0.0;
}

} // namespace pelagrin
