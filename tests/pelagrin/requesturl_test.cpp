#include "pelagrin/requesturl.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

const QString host = QStringLiteral("maps.example:8047");

TEST(GenerateUrl, RegionTileRequestToTheByte)
{
    MapSettings s;
    s.mapcode = mapcodeType1;
    s.centre.latitude = 48.5 + 0.000001;
    s.centre.longitude = 11.25 + 0.000001;
    s.zoom = 150;
    EXPECT_EQ(generateurl(s, modeLarge, host),
              QStringLiteral("http://maps.example:8047/pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP= "
                             "48.500001, 11.250001&Lang=EUR0407&Alti= 150&Size=1999,1999&Offs= "
                             "0, 0&MapS=0&Pins=|2ccf|"));
}

TEST(GenerateUrl, StartupPreviewRequest)
{
    MapSettings s; // the values the program starts with
    EXPECT_EQ(generateurl(s, modePreview, host),
              QStringLiteral("http://maps.example:8047/pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP= "
                             "47.651931, 9.476379&Lang=EURO809&Alti= 50000&Size=320,320&Offs= "
                             "0, 0&MapS=0&Pins=|2ccf|"));
}

TEST(GenerateUrl, NegativeCentreHasNoBlank)
{
    MapSettings s;
    s.mapcode = mapcodeType2;
    s.centre.latitude = -33.85;
    s.centre.longitude = -70.65;
    EXPECT_TRUE(generateurl(s, modePreview, host).contains(u"&CenP=-33.85,-70.65&Lang=WLD0407"));
}

struct CorrectionCase {
    const char* before;
    double longitude;
    int mode;
    const char* after;
};

class MapcodeCorrection : public ::testing::TestWithParam<CorrectionCase> {};

TEST_P(MapcodeCorrection, GoesIntoTheUrlAndTheWindowsSettings)
{
    const CorrectionCase c = GetParam();
    MapSettings s;
    s.mapcode = QString::fromLatin1(c.before);
    s.centre.longitude = c.longitude;
    const QString url = generateurl(s, c.mode, host);
    EXPECT_EQ(s.mapcode, QString::fromLatin1(c.before)); // the settings given are left alone
    correctMapcode(s);
    EXPECT_EQ(s.mapcode, QString::fromLatin1(c.after));
    if (c.mode == modeLarge || c.mode == modePreview) {
        EXPECT_TRUE(url.contains(QStringLiteral("&Lang=%1&").arg(c.after))) << url.toStdString();
    } else {
        EXPECT_TRUE(url.isEmpty()); // other modes give no URL, but the correction still ran
    }
}

INSTANTIATE_TEST_SUITE_P(Longitudes, MapcodeCorrection,
                         ::testing::Values(CorrectionCase{"EUR0407", -74, 1, "USA407"},
                                           CorrectionCase{"EUR0407", -30, 1, "EUR0407"},
                                           CorrectionCase{"EUR0407", -30.000001, 2, "USA407"},
                                           CorrectionCase{"EUR0407", -150, 1, "EUR0407"},
                                           CorrectionCase{"EUR0407", -160, 1, "EUR0407"},
                                           CorrectionCase{"USA407", 10, 1, "EUR0407"},
                                           CorrectionCase{"USA407", -30, 1, "USA407"},
                                           CorrectionCase{"USA407", -160, 2, "USA407"},
                                           CorrectionCase{"WLD0407", -74, 1, "WLD0407"},
                                           CorrectionCase{"EURO809", -74, 2, "EURO809"},
                                           CorrectionCase{"EUR0407", -74, 3, "USA407"},
                                           CorrectionCase{"USA407", 10, 0, "EUR0407"}));

} // namespace
