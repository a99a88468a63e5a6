#include "common/credit.h"
#include "common/worldfile.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

TEST(WorldFile, NamesSitBesideThePicture)
{
    const struct {
        const char* picture;
        const char* world;
        const char* aux;
    } cases[] = {
        {"MyMaps/IDA_E_B48!50L11!25Z150.gif", "MyMaps/IDA_E_B48!50L11!25Z150.gfw",
         "MyMaps/IDA_E_B48!50L11!25Z150.gif.aux.xml"},
        {"IDA_E_B46L11Z45.GIF", "IDA_E_B46L11Z45.gfw", "IDA_E_B46L11Z45.GIF.aux.xml"},
        {"maps.v2/tile", "maps.v2/tile.gfw", "maps.v2/tile.aux.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::worldFilePath(QString::fromUtf8(c.picture)), QString::fromUtf8(c.world));
        EXPECT_EQ(common::auxFilePath(QString::fromUtf8(c.picture)), QString::fromUtf8(c.aux));
    }
}

TEST(WorldFile, NamesTheCentreOfTheTopLeftPixelAndReadsBackExactly)
{
    // 48.5 N 11.25 E at zoom 45: a degree in 1999 pixels.
    const common::GeoTransform tile = common::pictureGeoTransform({48.5, 11.25}, 45, 1999, 1999);
    EXPECT_DOUBLE_EQ(tile[0], 10.75);
    EXPECT_DOUBLE_EQ(tile[3], 49.0);
    const QByteArray text = common::worldFileText(tile);
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 7); // six lines, each ended
    EXPECT_DOUBLE_EQ(lines[4].toDouble(), 10.75 + 0.5 / 1999);
    EXPECT_DOUBLE_EQ(lines[5].toDouble(), 49.0 - 0.5 / 1999);
    EXPECT_EQ(common::readWorldFile(text), tile);

    EXPECT_EQ(common::readWorldFile("1\n0\n0\n-1\n5\n"), std::nullopt);
    EXPECT_EQ(common::readWorldFile("1\n0\n0\n-1\n5\nsix\n"), std::nullopt);
    EXPECT_TRUE(common::auxFileText(tile).contains("AUTHORITY[&quot;EPSG&quot;,&quot;4326&quot;]"));
    EXPECT_FALSE(common::auxFileText(tile).contains("<Metadata>"));
}

// The credit comes from a server: it is cleaned and escaped before it goes into the file.
TEST(AuxFile, KeepsTheCreditCleanedAndEscaped)
{
    const common::GeoTransform tile = common::pictureGeoTransform({48.5, 11.25}, 45, 1999, 1999);
    const struct {
        QString credit;
        const char* item; // nullptr: no metadata at all
    } cases[] = {
        {QStringLiteral("© OpenStreetMap contributors"), "© OpenStreetMap contributors"},
        {QStringLiteral("<a href=\"x\">Maps & Co</a>\r\n</MDI><MDI>"), "Maps &amp; Co"},
        {QStringLiteral(" \t "), nullptr},
        {QString(300, u'x'), nullptr},
    };
    for (const auto& c : cases) {
        const QByteArray text = common::auxFileText(tile, c.credit);
        if (c.item == nullptr && c.credit.size() < 300) {
            EXPECT_FALSE(text.contains("<Metadata>")) << text.toStdString();
            continue;
        }
        const QByteArray expected = c.item != nullptr ? QByteArray(c.item) : QByteArray(200, 'x');
        EXPECT_TRUE(text.contains("<MDI key=\"attribution\">" + expected + "</MDI>"))
            << text.toStdString();
        // And back, as the exporter reads it.
        EXPECT_EQ(common::readAuxCredit(text).toStdString(),
                  common::cleanCredit(c.credit.toStdString()));
    }
}

} // namespace
