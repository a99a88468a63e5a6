#include "pelagrin/settings.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

TEST(ReadSettings, ReadsBoxesWithTheSuitesNumberReading)
{
    MapSettings s;
    readsettings(s, {false, QStringLiteral("48,5"), QString(), QStringLiteral("abc")});
    EXPECT_EQ(s.mapcode, mapcodeType2);
    EXPECT_DOUBLE_EQ(s.centre.latitude, 48);
    EXPECT_DOUBLE_EQ(s.centre.longitude, 0);
    EXPECT_DOUBLE_EQ(s.zoom, 0);

    readsettings(s, {true, QStringLiteral("-33.85"), QStringLiteral("4 8"), QStringLiteral("150")});
    EXPECT_EQ(s.mapcode, mapcodeType1);
    EXPECT_DOUBLE_EQ(s.centre.latitude, -33.85);
    EXPECT_DOUBLE_EQ(s.centre.longitude, 48);
    EXPECT_DOUBLE_EQ(s.zoom, 150);
}

} // namespace
