#pragma once

#include "common/result.h"
#include "common/tilefolder.h"
#include "common/tilegeometry.h"
#include "pelagrin/settings.h"

#include <QLocale>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace pelagrin {

// Added to both coordinates of every region tile centre before its request and name.
constexpr double centreShift = 0.000001;

// A region longer than this many tile centres along one axis is refused rather than planned.
constexpr std::size_t maxAxisValues = 1'000'000;

// The values a counting loop over doubles visits: the counter starts at |start| and the body
// runs while it is at most |bound| (step of 0 or more) or at least |bound| (negative step);
// |step| is added after each pass, so the rounding of the repeated addition decides whether
// the bound itself is reached. Nothing when there would be more than |limit| values (a step
// of 0 would never end).
std::optional<std::vector<double>> loopValues(double start, double bound, double step,
                                              std::size_t limit = maxAxisValues);

// One tile of a region download: where it stands in the plan, what is asked for and where
// it is stored.
struct TileJob {
    qint64 position = 0;
    common::Centre centre; // the one asked for, shifted by centreShift
    QString mapcode;       // after the correction by longitude
    QString url;
    QString path;                 // in the tile folder
    common::GeoTransform place{}; // where the service draws it
};

// The grid of a region download: rows from endlat towards beginlat in steps of stepb, each
// row from beginlong towards endlong in steps of stepl, fetched row by row. Each tile's
// request corrects the map code by its longitude, and the corrected code stays for the tiles
// after it, as it does in the window's settings: once a tile between -150 and -30 has turned
// map type 1 into the American map, later tiles keep it until one east of -30 turns it back.
// Jobs are made when asked for, so a plan of millions of tiles costs memory only for its axes.
class RegionPlan {
public:
    qint64 tilecount() const
    {
        return static_cast<qint64>(latitudes_.size()) * static_cast<qint64>(longitudes_.size());
    }
    const std::vector<double>& latitudes() const { return latitudes_; }
    const std::vector<double>& longitudes() const { return longitudes_; }

    double zoom() const { return settings_.zoom; }
    const MapSettings& settings() const { return settings_; }

    // The job at |position|, 0 <= position < tilecount().
    TileJob job(qint64 position) const;
    // Where the tile at |position| is stored, as job() names it, and the box it covers.
    QString path(qint64 position) const;
    QString mapcode(qint64 position) const { return settingsAt(position).mapcode; }
    common::GeoBox tileBox(qint64 position) const;
    // The picture Refresh would ask for at the centre of the tile at |position| (320 x 320
    // pixels), of the tile's map code: what the service says of it names the code's source.
    QString previewUrl(qint64 position) const;

private:
    MapSettings settingsAt(qint64 position) const;

    friend common::Result<RegionPlan> planRegion(const MapSettings&, double, double, const QString&,
                                                 const common::TileFolder&);
    explicit RegionPlan(common::TileFolder folder) : folder_(std::move(folder)) {}

    MapSettings settings_; // zoom, offsets and the map code the run starts with
    QString host_;
    common::TileFolder folder_;
    std::vector<double> latitudes_;
    std::vector<double> longitudes_;
    // For each column, the code the last correcting tile of a row up to it leaves, if any
    // tile up to it corrects; and the code a whole row leaves for the rows after it.
    std::vector<std::optional<QString>> codeUpTo_;
    QString codeAfterFirstRow_;
};

// Whether the tile of |job| is already in place from an earlier run: a whole GIF with its
// world file and .gif.aux.xml beside it (a run killed between those writes leaves a tile to
// fetch again).
bool tilePresent(const TileJob& job);

// The positions of |plan|'s tiles (of those at |among|, when given, in ascending order) that are
// not in place, in plan order.
std::vector<qint64> missingTiles(const RegionPlan& plan,
                                 const std::optional<std::vector<qint64>>& among = std::nullopt);

// The source recorded beside the stored tile of |job| (see common::readAuxSource); empty when
// none was.
QString storedSource(const TileJob& job);

// The tiles of |plan| in place (those not |missing|, of those at |among| when given) and the source
// recorded beside each, where one was; for each map code among them, the position of its first
// tile.
struct StoredTiles {
    std::map<qint64, QString> recorded; // position to source
    std::map<QString, qint64> firstOfCode;
};
StoredTiles storedTiles(const RegionPlan& plan, const std::vector<qint64>& missing,
                        const std::optional<std::vector<qint64>>& among = std::nullopt);

// Of the stored tiles, those recorded as drawn by another source than the one |current| names
// for their map code, in plan order. A tile without a recorded source, or of a code whose
// current source is not known (a service that does not name its sources), is taken as it is.
std::vector<qint64> otherSourceTiles(const RegionPlan& plan, const StoredTiles& stored,
                                     const std::map<QString, QString>& current);

// The plan for the corners in |settings| with tiles |stepb| and |stepl| degrees apart, asked of
// the map service at |host| and stored in |folder|. A bad-input error when an axis has more
// than maxAxisValues values.
common::Result<RegionPlan> planRegion(const MapSettings& settings, double stepb, double stepl,
                                      const QString& host, const common::TileFolder& folder);

// A divisor box read as the user's locale writes numbers ("45", or "0,5" under a comma
// locale); nothing when the text is not a number.
std::optional<double> localeDivisor(const QString& text, const QLocale& locale = QLocale());

// How far apart the centres of a region's tiles lie, in degrees of latitude (stepb) and of
// longitude (stepl).
struct RegionSteps {
    double latitude = 0;
    double longitude = 0;
};

// A tile spacing that a run can use: finite and not 0.
bool usableStep(double step);

} // namespace pelagrin
