// One neighbour choice over 10,000 tiles (a 100 x 100 grid) from a tile in the middle, in
// each direction, against a choice that reads every name again for each search.
#include "benchutil.h"
#include "tilelist.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

// The search as it would run without a parsed list: every name is read again.
std::optional<int> reparsingNeighbour(const QStringList& names, int current, const QString& way)
{
    const auto here = tramsel::calcjad(names[current]);
    std::optional<int> best;
    double bestDistance = 0;
    for (int i = 0; i < names.size(); ++i) {
        const auto entry = tramsel::calcjad(names[i]);
        if (!entry) {
            continue;
        }
        double d = -1;
        if (way == u"N" && entry->latitude > here->latitude && entry->longitude == here->longitude) {
            d = entry->latitude - here->latitude;
        } else if (way == u"S" && entry->latitude < here->latitude &&
                   entry->longitude == here->longitude) {
            d = here->latitude - entry->latitude;
        } else if (way == u"E" && entry->longitude > here->longitude &&
                   entry->latitude == here->latitude) {
            d = entry->longitude - here->longitude;
        } else if (way == u"W" && entry->longitude < here->longitude &&
                   entry->latitude == here->latitude) {
            d = here->longitude - entry->longitude;
        }
        if (d > 0 && (!best || d < bestDistance)) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

template <typename F>
double medianSeconds(int repeats, F&& search)
{
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        times.push_back(bench::secondsOf(search));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    QStringList names;
    for (int i = 0; i < 10'000; ++i) {
        names.append(QStringLiteral("IDA_E_B%1!00L%2!00Z45.gif").arg(i / 100).arg(i % 100));
    }
    names.sort(Qt::CaseInsensitive);
    const tramsel::TileList tiles(names);
    const int middle = static_cast<int>(names.indexOf(QStringLiteral("IDA_E_B50!00L50!00Z45.gif")));
    const QStringList ways{"N", "S", "E", "W"};

    for (const QString& way : ways) {
        if (tiles.neighbour(middle, way) != reparsingNeighbour(names, middle, way)) {
            std::fprintf(stderr, "the two searches disagree\n");
            return 1;
        }
    }
    int found = 0;
    const double value = medianSeconds(200, [&] {
        for (const QString& way : ways) {
            found += tiles.neighbour(middle, way).has_value();
        }
    }) / 4;
    const double baseline = medianSeconds(10, [&] {
        for (const QString& way : ways) {
            found += reparsingNeighbour(names, middle, way).has_value();
        }
    }) / 4;
    bench::report("tramsel_neighbour_10000", value, baseline, "value<0.001s");
    return found > 0 ? 0 : 1;
}
