#include "brontile/gridwalk.h"

#include <gtest/gtest.h>

#include <ostream>

namespace brontile {
void PrintTo(const Placement& p, std::ostream* out)
{
    *out << "{" << p.element << "," << p.position << "," << p.column << "," << p.row << "}";
}
} // namespace brontile

namespace {

using brontile::Placement;

// "lat/lon" or "lat/lon/zoom" becomes a tile name.
QStringList names(std::initializer_list<const char*> centres)
{
    QStringList out;
    for (const char* centre : centres) {
        const QStringList parts = QString::fromLatin1(centre).split(u'/');
        out.append(
            QStringLiteral("IDA_E_B%1L%2Z%3.gif")
                .arg(parts[0], parts[1], parts.size() > 2 ? parts[2] : QStringLiteral("45")));
    }
    return out;
}

struct WalkCase {
    const char* name;
    QStringList tiles; // in list order
    std::vector<Placement> expected;
};

class GridWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(GridWalk, PlacesWhatTheWalkReaches)
{
    EXPECT_EQ(brontile::planGrid(common::TileList(GetParam().tiles)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, GridWalk,
    ::testing::Values(
        WalkCase{"OneTile", names({"48/10"}), {{0, 0, 0, 0}}},
        WalkCase{"WestFirst", names({"48/10", "48/11"}), {{0, 0, 0, 0}, {1, 1, 1, 0}}},
        WalkCase{"EastFirst", names({"48/11", "48/10"}), {{0, 0, 0, 0}, {1, 1, 0, 1}}},
        WalkCase{
            "Rectangle",
            names({"48/10", "48/11", "48/12", "49/10", "49/11", "49/12"}),
            {{0, 3, 0, 0}, {1, 4, 1, 0}, {2, 5, 2, 0}, {3, 0, 0, 1}, {4, 1, 1, 1}, {5, 2, 2, 1}}},
        WalkCase{"OneWide", names({"47/10", "48/10", "49/10"}), {{0, 2, 0, 0}}},
        // The start is not the westernmost tile of the top row, and there are fewer rows
        // than the walk asks for: the last reachable row is placed again.
        WalkCase{"StartNotWesternmost",
                 names({"49/11", "49/10", "48/10", "48/11"}),
                 {{0, 0, 0, 0}, {1, 2, 0, 1}, {2, 3, 1, 1}, {3, 2, 0, 2}}},
        WalkCase{"TwoZooms",
                 names({"48/10/45", "48/10/20", "48/11/45"}),
                 {{0, 0, 0, 0}, {1, 2, 1, 0}, {2, 0, 0, 1}}},
        WalkCase{"ForeignName", QStringList{"holiday.gif", "IDA_E_B48L10Z45.gif"}, {{0, 1, 0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
