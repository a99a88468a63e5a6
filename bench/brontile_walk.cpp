// Planning the grid walk over 10,000 tiles of a 100 x 100 grid, against the same walk when
// every step reads every name again. Both must give the same placements.
//
// A reparsing step reads all 10,000 names whatever the step, so every step costs the same:
// every tenth step is timed reparsing, the others are answered by the parsed list, and the
// baseline is the timed steps scaled to all of them (a minute of the same work otherwise).
#include "benchutil.h"
#include "brontile/gridwalk.h"
#include "reparse.h"

int main()
{
    const QStringList names = bench::gridNames(100);
    const common::TileList tiles(names);
    std::vector<brontile::Placement> planned;
    const double value = bench::secondsOf([&] { planned = brontile::planGrid(tiles); });

    constexpr int sampleEvery = 10;
    int steps = 0;
    int timedSteps = 0;
    double timedSeconds = 0;
    const std::vector<brontile::Placement> reparsed =
        brontile::walkGrid(static_cast<int>(names.size()), brontile::startPosition(tiles),
                           [&](int current, common::Direction way) -> std::optional<int> {
                               if (steps++ % sampleEvery != 0) {
                                   return tiles.neighbour(current, way);
                               }
                               ++timedSteps;
                               std::optional<int> found;
                               timedSeconds += bench::secondsOf(
                                   [&] { found = bench::reparsingNeighbour(names, current, way); });
                               return found;
                           });
    if (planned != reparsed || planned.size() != 10'000 || timedSteps == 0) {
        std::fprintf(stderr, "the walks differ or miss tiles (%zu placements)\n", planned.size());
        return 1;
    }
    const double baseline = timedSeconds * steps / timedSteps;
    bench::report("brontile_walk_10000", value, baseline, "0.05");
    return 0;
}
