#include "region.h"

#include "numtext.h"

#include <cmath>

namespace pelagrin {

using common::numtext;

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

QString divisorNotANumberMessage(const QString& heading)
{
    return QStringLiteral("The value of \"%1\" is not a number. Please enter the number of tiles "
                          "per zoom unit, for example 45.")
        .arg(heading);
}

QString regionStartMessage(const MapSettings& s, qint64 tilecount)
{
    return QStringLiteral("Starting download from ") + numtext(s.beginlat) + u',' +
           numtext(s.beginlong) + QStringLiteral(" to ") + numtext(s.endlat) + u',' +
           numtext(s.endlong) + QStringLiteral(". This will make ") +
           numtext(static_cast<double>(tilecount)) + QStringLiteral(" images in this zoom mode!");
}

QString regionProgressText(qint64 donecount, qint64 tilecount)
{
    const double percent = static_cast<double>(donecount) / static_cast<double>(tilecount) * 100;
    return numtext(static_cast<double>(donecount)) + u' ' + numtext(percent).left(5) +
           QStringLiteral("% of ") + numtext(static_cast<double>(tilecount)) +
           QStringLiteral(" images total");
}

QString regionReadyMessage(qint64 donecount)
{
    return QStringLiteral("Ready. ") + numtext(static_cast<double>(donecount)) +
           QStringLiteral(" images have been downloaded for you");
}

} // namespace pelagrin
