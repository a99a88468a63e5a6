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

TEST_P(GridWalk, PlacesEveryTileOnceWhereItLies)
{
    const common::TileList tiles(GetParam().tiles);
    const auto planned = brontile::planGrid(tiles);
    EXPECT_EQ(planned, GetParam().expected);
    const auto left = brontile::leftOut(tiles, planned);
    EXPECT_EQ(left, std::string(GetParam().name) == "TwoZooms" ? std::vector<int>{1}
                                                               : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Regions, GridWalk,
    ::testing::Values(
        WalkCase{"OneTile", names({"48/10"}), {{0, 0, 0, 0}}},
        WalkCase{"WestFirst", names({"48/10", "48/11"}), {{0, 0, 0, 0}, {1, 1, 1, 0}}},
        // Where the walk would leave tiles out or show a row twice, each tile is laid out once
        // by its coordinates.
        WalkCase{"EastFirst", names({"48/11", "48/10"}), {{0, 1, 0, 0}, {1, 0, 1, 0}}},
        WalkCase{
            "Rectangle",
            names({"48/10", "48/11", "48/12", "49/10", "49/11", "49/12"}),
            {{0, 3, 0, 0}, {1, 4, 1, 0}, {2, 5, 2, 0}, {3, 0, 0, 1}, {4, 1, 1, 1}, {5, 2, 2, 1}}},
        WalkCase{"OneWide",
                 names({"47/10", "48/10", "49/10"}),
                 {{0, 2, 0, 0}, {1, 1, 0, 1}, {2, 0, 0, 2}}},
        WalkCase{"StartNotWesternmost",
                 names({"49/11", "49/10", "48/10", "48/11"}),
                 {{0, 1, 0, 0}, {1, 0, 1, 0}, {2, 2, 0, 1}, {3, 3, 1, 1}}},
        // The second tile lies where the first does: it is left out.
        WalkCase{
            "TwoZooms", names({"48/10/45", "48/10/20", "48/11/45"}), {{0, 0, 0, 0}, {1, 2, 1, 0}}},
        WalkCase{"ForeignName", QStringList{"holiday.gif", "IDA_E_B48L10Z45.gif"}, {{0, 1, 0, 0}}},
        WalkCase{"Gap",
                 names({"49/10", "49/12", "48/10", "48/11", "48/12"}),
                 {{0, 0, 0, 0}, {1, 1, 2, 0}, {2, 2, 0, 1}, {3, 3, 1, 1}, {4, 4, 2, 1}}},
        WalkCase{"TwoRegions",
                 names({"40/20", "49/10", "49/11"}),
                 {{0, 1, 0, 0}, {1, 2, 1, 0}, {2, 0, 2, 1}}},
        WalkCase{"Across180",
                 names({"48/-179", "48/-180", "48/179", "47/179"}),
                 {{0, 2, 0, 0}, {1, 1, 1, 0}, {2, 0, 2, 0}, {3, 3, 0, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
