#include "common/tilenamereader.h"

#include <gtest/gtest.h>

namespace {

struct ReadCase {
    const char* name;
    bool readable;
    double latitude;
    double longitude;
    double zoom;
};

class TileNameReader : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TileNameReader, ReadsCentreAndZoomOrNothing)
{
    const ReadCase c = GetParam();
    const auto centre = common::readTileName(QString::fromLatin1(c.name));
    ASSERT_EQ(centre.has_value(), c.readable) << c.name;
    if (c.readable) {
        EXPECT_DOUBLE_EQ(centre->latitude, c.latitude) << c.name;
        EXPECT_DOUBLE_EQ(centre->longitude, c.longitude) << c.name;
        EXPECT_DOUBLE_EQ(centre->zoom, c.zoom) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, TileNameReader,
    ::testing::Values(ReadCase{"IDA_E_B48!50L11!25Z150.gif", true, 48.5, 11.25, 150},
                      ReadCase{"IDA_U_B40!70L-73!99Z150.gif", true, 40.7, -73.99, 150},
                      ReadCase{"IDA_E_B!50L9!25Z20.gif", true, 0.5, 9.25, 20},
                      ReadCase{"IDA_E_B-!24L!50Z45.gif", true, -0.24, 0.5, 45},
                      ReadCase{"IDA_E_B48!00L9!00Z12.5.gif", true, 48, 9, 12.5},
                      ReadCase{"IDA_E_B48L9Z2000.GIF", true, 48, 9, 2000},
                      // The single image has a shorter prefix; its latitude is read whole.
                      ReadCase{"ID_E_B47!651931L9!476379Z150.gif", true, 47.651931, 9.476379, 150},
                      ReadCase{"ID_W_B-33!85L-70!65Z25.gif", true, -33.85, -70.65, 25},
                      // Not tile names.
                      ReadCase{"holiday.gif", false, 0, 0, 0},
                      ReadCase{"IDA_E_B48!50Z150L11.gif", false, 0, 0, 0},
                      ReadCase{"IDA_E_B48!50L11!25Z150", false, 0, 0, 0},
                      ReadCase{"IDA_E_Babc L11Z150.gif", false, 0, 0, 0},
                      ReadCase{"IDA_E_BL11Z150.gif", false, 0, 0, 0},
                      ReadCase{"IDA_E_B1!2!3L11Z150.gif", false, 0, 0, 0},
                      ReadCase{"IDA_E_B48L11Z.gif", false, 0, 0, 0},
                      ReadCase{"LIDA_E_B48L11Z150.gif", false, 0, 0, 0}));

} // namespace
