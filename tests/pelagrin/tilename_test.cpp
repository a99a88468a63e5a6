#include "common/tilenamereader.h"
#include "pelagrin/settings.h"
#include "pelagrin/tilename.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

constexpr double shift = 0.000001; // the region download's centre shift

struct NameCase {
    const char* mapcode;
    double latitude;
    double longitude;
    double zoom;
    const char* expected;
};

MapSettings settingsFor(const NameCase& c)
{
    MapSettings s;
    s.mapcode = QString::fromLatin1(c.mapcode);
    s.centre.latitude = c.latitude;
    s.centre.longitude = c.longitude;
    s.zoom = c.zoom;
    return s;
}

class RegionTileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RegionTileNames, CutAfterTheSecondDecimal)
{
    NameCase c = GetParam();
    c.latitude += shift;
    c.longitude += shift;
    EXPECT_EQ(regionTileName(settingsFor(c)), QString::fromLatin1(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Centres, RegionTileNames,
    ::testing::Values(NameCase{"EUR0407", 48.5, 11.25, 150, "IDA_E_B48!50L11!25Z150.gif"},
                      NameCase{"USA407", 40.7, -74, 150, "IDA_U_B40!70L-73!99Z150.gif"},
                      NameCase{"WLD0407", 0.5, 9.25, 20, "IDA_W_B!50L9!25Z20.gif"},
                      NameCase{"EUR0407", 48, 9, 2000, "IDA_E_B48!00L9!00Z2000.gif"},
                      NameCase{"EUR0407", 47, 9, 45, "IDA_E_B47!00L9!00Z45.gif"},
                      // A negative centre on the two-decimal grid comes out 0.01 nearer to zero.
                      NameCase{"EUR0407", 51, -3.7, 45, "IDA_E_B51!00L-3!69Z45.gif"},
                      NameCase{"EUR0407", -0.25, 0.5, 45, "IDA_E_B-!24L!50Z45.gif"},
                      // The equator and Greenwich keep a readable coordinate, not an exponent.
                      NameCase{"EUR0407", 0, 0, 45, "IDA_E_B!00L!00Z45.gif"},
                      // A fractional zoom keeps its point; a negative zoom loses its sign.
                      NameCase{"EUR0407", 48, 9, 12.5, "IDA_E_B48!00L9!00Z12.5.gif"},
                      NameCase{"EUR0407", 48, 9, -5, "IDA_E_B48!00L9!00Z5.gif"},
                      NameCase{"EURO809", -33.85, -70.65, 25, "IDA_E_B-33!84L-70!64Z25.gif"}));

TEST(RegionTileName, IntegralCentreIsKeptWhole)
{
    // A shifted centre that lands exactly on a whole number has no point to cut after; the
    // whole number must survive (not be cut to its first two characters).
    EXPECT_EQ(regionCoordinate(48.0), QStringLiteral("48"));
    EXPECT_EQ(regionCoordinate(-123.0), QStringLiteral("-123"));
    EXPECT_EQ(regionCoordinate(47.999999 + shift), QStringLiteral("48"));
}

class SingleImageNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(SingleImageNames, CarryTheCentreInFull)
{
    EXPECT_EQ(singleImageName(settingsFor(GetParam())), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Centres, SingleImageNames,
    ::testing::Values(
        NameCase{"EUR0407", 47.651931, 9.476379, 150, "ID_E_B47!651931L9!476379Z150.gif"},
        NameCase{"EUR0407", 47.651931, 9.476379, 3000, "ID_E_B47!651931L9!476379Z3000.gif"},
        NameCase{"WLD0407", -0.5, -70.123, 50000, "ID_W_B-!5L-70!123Z50000.gif"},
        NameCase{"USA407", 40.7, -74, 20, "ID_U_B40!7L-74Z20.gif"}));

TEST(TileNames, AZoomTypedHugeOrTinyStillGivesANameTheReadersTake)
{
    for (const double zoom : {1e15, 2.5e20, 1e-7}) {
        MapSettings s;
        s.mapcode = mapcodeType1;
        s.centre.latitude = 48.5 + shift;
        s.centre.longitude = 11.25 + shift;
        s.zoom = zoom;
        for (const QString& name : {regionTileName(s), singleImageName(s)}) {
            const auto read = common::readTileName(name);
            ASSERT_TRUE(read) << name.toStdString();
            EXPECT_DOUBLE_EQ(read->zoom, zoom) << name.toStdString();
        }
    }
}

} // namespace
