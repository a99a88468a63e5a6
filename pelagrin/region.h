#pragma once

#include "pelagrin/settings.h"

#include <QLocale>
#include <QString>

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

// The grid of a region download: rows from endlat towards beginlat in steps of |stepb|, each
// row from beginlong towards endlong in steps of |stepl|. Tiles are fetched row by row.
struct RegionPlan {
    std::vector<double> latitudes;
    std::vector<double> longitudes;

    qint64 tilecount() const
    {
        return static_cast<qint64>(latitudes.size()) * static_cast<qint64>(longitudes.size());
    }
};

// The plan for the corners in |settings|, or nothing when an axis has too many values.
std::optional<RegionPlan> planRegion(const MapSettings& settings, double stepb, double stepl);

// A divisor box read as the user's locale writes numbers ("45", or "0,5" under a comma
// locale); nothing when the text is not a number.
std::optional<double> localeDivisor(const QString& text, const QLocale& locale = QLocale());

// A tile spacing that a run can use: finite and not 0.
bool usableStep(double step);

} // namespace pelagrin
