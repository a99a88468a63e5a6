#include "tramsel/arrangebars.h"

#include <QRect>

#include <gtest/gtest.h>

namespace {

struct BarsCase {
    const char* name;
    tramsel::BarsInput in;
    bool hscroll;
    bool vscroll;
    bool corner;
    QRect hscrollPlace; // in twips
    QRect vscrollPlace;
};

class ArrangeBars : public ::testing::TestWithParam<BarsCase> {};

TEST_P(ArrangeBars, ShowAndPlaceFromTheOuterSize)
{
    const BarsCase c = GetParam();
    const tramsel::BarsLayout out = tramsel::arrangebars(c.in);
    EXPECT_EQ(out.hscrollVisible, c.hscroll);
    EXPECT_EQ(out.vscrollVisible, c.vscroll);
    EXPECT_EQ(out.cornerVisible, c.corner);
    EXPECT_EQ(out.hscroll, c.hscrollPlace);
    EXPECT_EQ(out.vscroll, c.vscrollPlace);
    EXPECT_EQ(out.corner.topLeft(), QPoint(1980, 1380));
    EXPECT_EQ(out.vscrollMaximum, 19350);
    EXPECT_EQ(out.hscrollMaximum, 14800);
}

// The bars sit along the bottom and right edges of the window, less its borders; in a window
// smaller than its borders they shrink to nothing rather than to a negative size.
INSTANTIATE_TEST_SUITE_P(Views, ArrangeBars,
                         ::testing::Values(BarsCase{"FullSize320",
                                                    {8415, 6960, 4800, 4800, true},
                                                    true,
                                                    true,
                                                    true,
                                                    QRect(0, 6310, 8315, 255),
                                                    QRect(8065, 0, 255, 6310)},
                                           BarsCase{"FullSize1999",
                                                    {9000, 7500, 29985, 29985, true},
                                                    true,
                                                    true,
                                                    true,
                                                    QRect(0, 6850, 8900, 255),
                                                    QRect(8650, 0, 255, 6850)},
                                           BarsCase{"FitView",
                                                    {8415, 6960, 29985, 29985, false},
                                                    false,
                                                    false,
                                                    true,
                                                    QRect(0, 6310, 8315, 255),
                                                    QRect(8065, 0, 255, 6310)},
                                           BarsCase{"WideOnly",
                                                    {8415, 6960, 3000, 1000, true},
                                                    true,
                                                    false,
                                                    true,
                                                    QRect(0, 6310, 8315, 255),
                                                    QRect(8065, 0, 255, 6310)},
                                           BarsCase{"SmallPicture",
                                                    {8415, 6960, 1500, 1500, true},
                                                    false,
                                                    false,
                                                    false,
                                                    QRect(0, 6310, 8315, 255),
                                                    QRect(8065, 0, 255, 6310)},
                                           BarsCase{"Minimised",
                                                    {90, 300, 4800, 4800, true},
                                                    true,
                                                    true,
                                                    true,
                                                    QRect(0, -350, 0, 255),
                                                    QRect(-260, 0, 255, 0)}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
