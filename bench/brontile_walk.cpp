// Planning the grid walk over 10,000 tiles of a 100 x 100 grid, against the same walk when
// every step reads every name again. Both must give the same placements.
#include "benchutil.h"
#include "brontile/gridwalk.h"
#include "reparse.h"

int main()
{
    const QStringList names = bench::gridNames(100);
    const common::TileList tiles(names);
    std::vector<brontile::Placement> planned;
    const double value = bench::secondsOf([&] { planned = brontile::planGrid(tiles); });
    std::vector<brontile::Placement> reparsed;
    const double baseline = bench::secondsOf([&] {
        reparsed =
            brontile::walkGrid(static_cast<int>(names.size()), brontile::startPosition(tiles),
                               [&names](int current, common::Direction way) {
                                   return bench::reparsingNeighbour(names, current, way);
                               });
    });
    if (planned != reparsed || planned.size() != 10'000) {
        std::fprintf(stderr, "the walks differ or miss tiles (%zu placements)\n", planned.size());
        return 1;
    }
    bench::report("brontile_walk_10000", value, baseline, "0.05");
    return 0;
}
