#include "pelagrin/region.h"

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

std::optional<RegionPlan> planRegion(const MapSettings& s, double stepb, double stepl)
{
    auto latitudes = loopValues(s.endlat, s.beginlat, stepb);
    auto longitudes = loopValues(s.beginlong, s.endlong, stepl);
    if (!latitudes || !longitudes) {
        return std::nullopt;
    }
    return RegionPlan{std::move(*latitudes), std::move(*longitudes)};
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
