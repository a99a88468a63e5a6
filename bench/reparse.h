#pragma once

#include "common/tilelist.h"

#include <QStringList>

#include <optional>

namespace bench {

// The neighbour choice as it runs without a parsed list: every name is read again for every
// search. Baseline of the viewers' benchmarks.
inline std::optional<int> reparsingNeighbour(const QStringList& names, int current,
                                             common::Direction way)
{
    const auto here = common::calcjad(names[current]);
    if (!here) {
        return std::nullopt;
    }
    std::optional<int> best;
    double bestDistance = 0;
    for (int i = 0; i < names.size(); ++i) {
        const auto entry = common::calcjad(names[i]);
        if (!entry) {
            continue;
        }
        double d = -1;
        if (way == common::Direction::North && entry->latitude > here->latitude &&
            entry->longitude == here->longitude) {
            d = entry->latitude - here->latitude;
        } else if (way == common::Direction::South && entry->latitude < here->latitude &&
                   entry->longitude == here->longitude) {
            d = here->latitude - entry->latitude;
        } else if (way == common::Direction::East && entry->longitude > here->longitude &&
                   entry->latitude == here->latitude) {
            d = entry->longitude - here->longitude;
        } else if (way == common::Direction::West && entry->longitude < here->longitude &&
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

// 10,000 tile names of a 100 x 100 grid, in name order.
inline QStringList gridNames(int side)
{
    QStringList names;
    for (int i = 0; i < side * side; ++i) {
        names.append(QStringLiteral("IDA_E_B%1!00L%2!00Z45.gif").arg(i / side).arg(i % side));
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

} // namespace bench
