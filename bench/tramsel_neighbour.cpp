// One neighbour choice over 10,000 tiles (a 100 x 100 grid) from a tile in the middle, in
// each direction, against a choice that reads every name again for each search.
#include "benchutil.h"
#include "common/tilelist.h"
#include "reparse.h"

#include <QStringList>

#include <algorithm>
#include <vector>

int main()
{
    const QStringList names = bench::gridNames(100);
    const common::TileList tiles(names);
    const int middle = static_cast<int>(names.indexOf(QStringLiteral("IDA_E_B50!00L50!00Z45.gif")));
    using common::Direction;
    const Direction directions[] = {Direction::North, Direction::South, Direction::East,
                                    Direction::West};

    for (const Direction way : directions) {
        if (tiles.neighbour(middle, way) != bench::reparsingNeighbour(names, middle, way)) {
            std::fprintf(stderr, "the two searches disagree\n");
            return 1;
        }
    }
    int found = 0;
    const double value = bench::medianSeconds(200,
                                              [&] {
                                                  for (const Direction way : directions) {
                                                      found +=
                                                          tiles.neighbour(middle, way).has_value();
                                                  }
                                              }) /
                         4;
    const double baseline =
        bench::medianSeconds(10,
                             [&] {
                                 for (const Direction way : directions) {
                                     found +=
                                         bench::reparsingNeighbour(names, middle, way).has_value();
                                 }
                             }) /
        4;
    bench::report("tramsel_neighbour_10000", value, baseline, "value<0.001s");
    return found > 0 ? 0 : 1;
}
