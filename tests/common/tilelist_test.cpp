#include "common/tilelist.h"

#include <gtest/gtest.h>

namespace {

using common::TileList;

const TileList tiles(QStringList{
    "IDA_E_B48!00L9!00Z45.gif",    // 0: 48 / 9
    "IDA_E_B48!00L10!00Z45.gif",   // 1: 48 / 10
    "IDA_E_B49!00L9!00Z45.gif",    // 2: 49 / 9
    "IDA_E_B50!0L9!00Z45.gif",     // 3: 50 / 9, written another way
    "IDA_W_B48!00L11!00Z20.gif",   // 4: 48 / 11, another zoom and map
    "IDA_E_B48!00L11!00Z45.gif",   // 5: 48 / 11, the twin of 4
    "IDA_E_B47!00L9!01Z45.gif",    // 6: 47 / 9.01, never south of 48 / 9
    "IDA_E_B-12!50L-70!00Z45.gif", // 7: -12.5 / -70
    "IDA_E_B-13!00L-70!00Z45.gif", // 8: -13 / -70
    "IDA_E_B!00L179!50Z45.gif",    // 9: 0 / 179.5
    "IDA_E_B!00L-179!50Z45.gif",   // 10: 0 / -179.5
    "ID_E_B46!5L9Z150.gif",        // 11: the single image, read at its true latitude 46.5
    "holiday.gif",                 // 12: no tile name
});

struct MoveCase {
    int from;
    const char* direction;
    int to; // -1: none
};

class NeighbourChoice : public ::testing::TestWithParam<MoveCase> {};

TEST_P(NeighbourChoice, NearestOnTheSameLineFirstInListOnATie)
{
    const auto way = common::directionOfLetter(QString::fromLatin1(GetParam().direction));
    const auto found = way ? tiles.neighbour(GetParam().from, *way) : std::nullopt;
    EXPECT_EQ(found.value_or(-1), GetParam().to) << GetParam().from << " " << GetParam().direction;
}

INSTANTIATE_TEST_SUITE_P(
    Moves, NeighbourChoice,
    ::testing::Values(MoveCase{0, "N", 2}, MoveCase{2, "N", 3}, MoveCase{3, "N", -1},
                      MoveCase{3, "S", 2}, MoveCase{0, "S", 11}, MoveCase{11, "N", 0},
                      MoveCase{0, "E", 1}, MoveCase{1, "E", 4}, MoveCase{4, "E", -1},
                      MoveCase{4, "W", 1}, MoveCase{5, "W", 1}, MoveCase{1, "W", 0},
                      MoveCase{8, "N", 7}, MoveCase{7, "S", 8}, MoveCase{9, "E", -1},
                      MoveCase{10, "W", -1}, MoveCase{9, "W", 10}, MoveCase{0, "n", -1},
                      MoveCase{0, "X", -1}, MoveCase{0, "", -1}, MoveCase{12, "N", -1},
                      MoveCase{6, "N", -1}));

TEST(NeighbourChoice, ASingleTileHasNoNeighbour)
{
    const TileList one(QStringList{"IDA_E_B48!50L11!25Z150.gif"});
    using common::Direction;
    for (const Direction way :
         {Direction::North, Direction::South, Direction::East, Direction::West}) {
        EXPECT_FALSE(one.neighbour(0, way).has_value()) << static_cast<int>(way);
    }
}

} // namespace
