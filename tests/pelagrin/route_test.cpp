#include "pelagrin/messages.h"
#include "pelagrin/route.h"
#include "tempworkdir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <zip.h>

namespace {

using namespace pelagrin;

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A zip archive holding |name| with |bytes|, deflated.
void writeZip(const QString& path, const char* name, const QByteArray& bytes)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_BEST_SPEED, 1),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zip, bytes.constData(), static_cast<unsigned>(bytes.size())),
              ZIP_OK);
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);
}

const QByteArray gpxHead = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" "
                           "xmlns=\"http://www.topografix.com/GPX/1/1\">";

TEST(ReadRoute, TakesTracksRoutesAndLinesOfEveryKind)
{
    testsupport::TempWorkDir dir;
    write("track.gpx", gpxHead +
                           "<wpt lat=\"1\" lon=\"1\"/><trk><trkseg>"
                           "<trkpt lat=\"47.5\" lon=\"9.5\"/><trkpt lat=\"47.6\" lon=\"9.7\"/>"
                           "</trkseg><trkseg><trkpt lat=\"48\" lon=\"10\"/></trkseg></trk>"
                           "<rte><rtept lat=\"46\" lon=\"-179.5\"/><rtept lat=\"NaN\" lon=\"1\"/>"
                           "<rtept lat=\"1e308\" lon=\"1\"/></rte></gpx>");
    const QByteArray kml = "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><Placemark>"
                           "<LineString><coordinates>9.5,47.5,400 9.7,47.6\n 9.8,47.7"
                           "</coordinates></LineString></Placemark></Document></kml>";
    write("line.kml", kml);
    writeZip("line.kmz", "doc.kml", kml);

    const auto gpx = readRoute("track.gpx");
    ASSERT_TRUE(gpx) << gpx.error().text;
    ASSERT_EQ(gpx->lines.size(), 3U);
    EXPECT_EQ(gpx->lines[0].size(), 2U);
    EXPECT_DOUBLE_EQ(gpx->lines[0][1].longitude, 9.7);
    EXPECT_DOUBLE_EQ(gpx->lines[2][0].longitude, -179.5);
    EXPECT_EQ(gpx->skipped, 2);
    for (const char* name : {"line.kml", "line.kmz"}) {
        const auto route = readRoute(name);
        ASSERT_TRUE(route) << name << route.error().text;
        ASSERT_EQ(route->points(), 3);
        EXPECT_DOUBLE_EQ(route->lines[0][2].latitude, 47.7);
    }
}

struct HostileCase {
    const char* name;
    std::function<void(const QString& path)> make;
    QString why;
};

class HostileRoutes : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRoutes, GiveOneMessageAndNoRoute)
{
    testsupport::TempWorkDir dir;
    const QString path = QStringLiteral("route.gpx");
    GetParam().make(path);
    const auto route = readRoute(path);
    ASSERT_FALSE(route);
    EXPECT_EQ(QString::fromStdString(route.error().text),
              routeUnreadableMessage(path, GetParam().why));
}

QByteArray points(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        text += "<trkpt lat=\"47\" lon=\"9\"/>";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileRoutes,
    ::testing::Values(
        HostileCase{"dtd",
                    [](const QString& p) {
                        write(p, "<?xml version=\"1.0\"?><!DOCTYPE gpx><gpx><trk><trkseg>" +
                                     points(2) + "</trkseg></trk></gpx>");
                    },
                    routeDtdText},
        HostileCase{"external_entity",
                    [](const QString& p) {
                        write(p, "<?xml version=\"1.0\"?><!DOCTYPE gpx [<!ENTITY x SYSTEM "
                                 "\"file:///etc/passwd\">]><gpx>&x;</gpx>");
                    },
                    routeDtdText},
        HostileCase{"billion_laughs",
                    [](const QString& p) {
                        QByteArray xml =
                            "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY l0 \"lol\">";
                        for (int i = 1; i < 10; ++i) {
                            xml += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                                   QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) +
                                   "\">";
                        }
                        write(p, xml + "]><gpx>&l9;</gpx>");
                    },
                    routeDtdText},
        HostileCase{"utf16_dtd",
                    [](const QString& p) {
                        const QString xml = QStringLiteral(
                            "<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE gpx><gpx/>");
                        write(p, QByteArray("\xff\xfe", 2) +
                                     QByteArray(reinterpret_cast<const char*>(xml.utf16()),
                                                xml.size() * 2));
                    },
                    routeDtdText},
        HostileCase{
            "sixty_megabytes",
            [](const QString& p) { write(p, gpxHead + QByteArray(60'000'000, ' ') + "</gpx>"); },
            routeTooLargeText(maxRouteFileBytes)},
        HostileCase{"too_many_points",
                    [](const QString& p) {
                        write(p, gpxHead + "<trk><trkseg>" + points(1'000'001) +
                                     "</trkseg></trk></gpx>");
                    },
                    routeTooManyPointsText(maxRoutePoints)},
        HostileCase{"bad_coordinates_only",
                    [](const QString& p) {
                        write(p, gpxHead + "<trk><trkseg><trkpt lat=\"NaN\" lon=\"9\"/>"
                                           "<trkpt lat=\"1e308\" lon=\"9\"/><trkpt lat=\"47\" "
                                           "lon=\"inf\"/></trkseg></trk></gpx>");
                    },
                    routeNoLineText},
        HostileCase{"waypoints_only",
                    [](const QString& p) {
                        write(p, gpxHead + "<wpt lat=\"47\" lon=\"9\"/><wpt lat=\"48\" "
                                           "lon=\"9\"/></gpx>");
                    },
                    routeNoLineText},
        HostileCase{"kmz_inflating_past_50_mb",
                    [](const QString& p) { writeZip(p, "doc.kml", QByteArray(60'000'000, '\0')); },
                    routeTooLargeText(maxRouteFileBytes)},
        HostileCase{"kmz_without_kml",
                    [](const QString& p) { writeZip(p, "photo.jpg", "not a map"); },
                    routeNoKmlText},
        HostileCase{"no_gpx", [](const QString& p) { write(p, "<html><body/></html>"); },
                    routeNotGpxOrKmlText},
        HostileCase{"folder", [](const QString& p) { QDir().mkdir(p); }, routeNoFileText}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
