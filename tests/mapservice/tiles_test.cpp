// The service's map tiles and the documents that describe them, checked against GDAL: each tile
// against the service's own picture of its box warped by gdalwarp, and GDAL's WMTS and TMS
// readers against the tiles.
#include "geotiffwriter.h"
#include "mapservice/protocol/tileask.h"
#include "smoothtiles.h"
#include "xyzfixture.h"

#include <QProcess>

#include <cmath>
#include <cstdio>

namespace {

using namespace mapservice;
using testsupport::RunningServer;

QImage tileImage(const std::string& bytes)
{
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                            static_cast<int>(bytes.size()))
        .convertToFormat(QImage::Format_RGB32);
}

// The share of pixels of |a| and |b| that differ by more than |tolerance| in a channel.
double shareOff(const QImage& a, const QImage& b, int tolerance = 24)
{
    if (a.size() != b.size() || a.isNull()) {
        return 1;
    }
    int off = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            off += std::abs(qRed(p) - qRed(q)) > tolerance ||
                   std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                   std::abs(qBlue(p) - qBlue(q)) > tolerance;
        }
    }
    return static_cast<double>(off) / (a.width() * a.height());
}

bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60'000) && process.exitCode() == 0;
}

class Tiles : public testsupport::XyzSource {
protected:
    void SetUp() override
    {
        tif = (work.path() + "/checks.tif").toStdString();
        // Squares of 16 pixels, 0.01 degrees each, over western Europe.
        ASSERT_TRUE(testsupport::writeGeotiff(
            tif, 4326, -10, 60, 0.01, 0.01, 3000, 2500,
            [](int x, int y) -> std::array<std::uint8_t, 3> {
                return (x / 16 + y / 16) % 2 == 0 ? std::array<std::uint8_t, 3>{200, 40, 40}
                                                  : std::array<std::uint8_t, 3>{40, 40, 200};
            }));
        table.emplace(testShores(), options());
        ASSERT_TRUE(table->addLegend("none").ok());
        ASSERT_TRUE(table->add("WLD0407=" + tif).ok());
        // A tile server in Web Mercator and a WMTS in EPSG:4326 whose tiles hold smooth colours
        // that agree from zoom to zoom and grid to grid.
        geodetic.server().Get(R"(/xyz/(\d+)/(\d+)/(\d+)\.png)",
                              [](const httplib::Request& req, httplib::Response& res) {
                                  res.set_content(testsupport::tilePng(std::stoi(req.matches[1]),
                                                                       std::stoi(req.matches[2]),
                                                                       std::stoi(req.matches[3])),
                                                  "image/png");
                              });
        geodetic.server().Get(R"(/geodetic/(\d+)/(\d+)/(\d+)\.png)", [](const httplib::Request& req,
                                                                        httplib::Response& res) {
            res.set_content(testsupport::geodeticTilePng(std::stoi(req.matches[1]),
                                                         std::stoi(req.matches[2]),
                                                         std::stoi(req.matches[3])),
                            "image/png");
        });
        geodetic.server().Get("/wmts.xml", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(testsupport::geodeticCapabilities(geodetic.url()), "text/xml");
        });
        geodetic.start();
        ASSERT_TRUE(table->add("EURO809=wmts:" + geodetic.url() + "/wmts.xml").ok());
        ASSERT_TRUE(table->add("USA407=xyz:" + geodetic.url() + "/xyz/{z}/{x}/{y}.png").ok());
        service.emplace(*table);
        client.emplace("127.0.0.1", service->port());
        client->set_read_timeout(60, 0);
    }

    std::string get(const std::string& path, int status = 200)
    {
        const auto result = client->Get(path);
        EXPECT_TRUE(result) << path;
        if (!result) {
            return {};
        }
        EXPECT_EQ(result->status, status) << path << ": " << result->body.substr(0, 200);
        return result->body;
    }

    // The service's picture of |tile|'s box, warped by gdalwarp into the tile's grid.
    QImage pictureWarped(const TileAsk& tile)
    {
        const MapRequest r = tilePicture(tile);
        char query[300];
        std::snprintf(
            query, sizeof query, "/pub/agent.dll?CenP=%.17g,%.17g&Alti=%.17g&Size=%d,%d&Lang=%s",
            r.centre.latitude, r.centre.longitude, r.zoom, r.width, r.height, r.mapcode.c_str());
        const std::string gif = get(query);
        const QString base = work.path() + "/picture";
        QFile file(base + ".gif");
        file.open(QIODevice::WriteOnly);
        file.write(gif.data(), static_cast<qint64>(gif.size()));
        file.close();
        // Its corners, as the service draws it: square pixels of zoom / (45 x 1999) degrees.
        const double d = r.zoom / (45.0 * 1999);
        const double west = r.centre.longitude - r.width / 2.0 * d;
        const double north = r.centre.latitude + r.height / 2.0 * d;
        const double size = 2 * 20037508.342789244 / std::ldexp(1.0, tile.z);
        const double left = -20037508.342789244 + static_cast<double>(tile.x) * size;
        const double top = 20037508.342789244 - static_cast<double>(tile.y) * size;
        const QString out = base + ".png";
        QFile::remove(out);
        EXPECT_TRUE(runTool("gdal_translate",
                            {"-q", "-of", "VRT", "-expand", "rgb", "-a_srs", "EPSG:4326", "-a_ullr",
                             QString::number(west, 'g', 17), QString::number(north, 'g', 17),
                             QString::number(west + r.width * d, 'g', 17),
                             QString::number(north - r.height * d, 'g', 17), base + ".gif",
                             base + ".vrt"}));
        EXPECT_TRUE(runTool("gdalwarp",
                            {"-q", "-overwrite", "-t_srs", "EPSG:3857", "-r", "bilinear", "-te",
                             QString::number(left, 'g', 17), QString::number(top - size, 'g', 17),
                             QString::number(left + size, 'g', 17), QString::number(top, 'g', 17),
                             "-ts", QString::number(tile.side()), QString::number(tile.side()),
                             base + ".vrt", base + ".tif"}));
        EXPECT_TRUE(runTool("gdal_translate", {"-q", "-of", "PNG", base + ".tif", out}));
        return QImage(out).convertToFormat(QImage::Format_RGB32);
    }

    std::string tif;
    testsupport::LoopbackServer geodetic;
    std::optional<SourceTable> table;
    std::optional<RunningServer> service;
    std::optional<httplib::Client> client;
};

TEST_F(Tiles, EachTileIsTheServicesPictureOfItsBoxWarpedIntoTheGrid)
{
    struct Case {
        const char* code;
        int z, x, y, scale;
    };
    const Case cases[] = {
        {"EUR0407", 0, 0, 0, 1},    // the world
        {"EUR0407", 5, 16, 10, 1},  // the Alps
        {"EUR0407", 3, 7, 0, 2},    // the Arctic at 512 pixels
        {"WLD0407", 8, 127, 86, 1}, // the checks, at 0.7 of their pixels
        {"WLD0407", 11, 1020, 695, 1},
        {"USA407", 9, 150, 190, 2}, // the tile server's zoom 10, warped
        {"EURO809", 7, 68, 44, 1},  // the WMTS in EPSG:4326, warped twice
        {"EURO809", 10, 540, 360, 1},
    };
    for (const Case& c : cases) {
        const TileAsk tile{c.code, c.z, c.x, c.y, c.scale, TileFormat::Png};
        const std::string path = "/tiles/" + std::string(c.code) + "/" + std::to_string(c.z) + "/" +
                                 std::to_string(c.x) + "/" + std::to_string(c.y) +
                                 (c.scale == 2 ? "@2x" : "") + ".png";
        const QImage served = tileImage(get(path));
        EXPECT_EQ(served.width(), 256 * c.scale) << path;
        // Along the checks' edges bilinear sampling may pick the neighbour: a pixel's worth.
        EXPECT_LT(shareOff(served, pictureWarped(tile)), 0.03) << path;
    }
}

TEST_F(Tiles, TheirAnswersAreCachedLikePicturesAndRefusedInOneLine)
{
    const auto first = client->Get("/tiles/EUR0407/4/8/5.png");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->get_header_value("Access-Control-Allow-Origin"), "*");
    const std::string etag = first->get_header_value("ETag");
    ASSERT_FALSE(etag.empty());
    const auto again = client->Get("/tiles/EUR0407/4/8/5.png", {{"If-None-Match", etag}});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 304);
    const auto jpeg = client->Get("/tiles/EUR0407/4/8/5.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_NE(jpeg->get_header_value("ETag"), etag) << "another format is another answer";
    EXPECT_EQ(jpeg->get_header_value("Content-Type"), "image/jpeg");

    // A tile server's own tile of the same zoom and format is passed through as it is.
    EXPECT_EQ(get("/tiles/USA407/9/150/190.png"), testsupport::tilePng(9, 150, 190));
    EXPECT_NE(get("/tiles/USA407/9/150/190.jpg").substr(0, 3), "\x89PN") << "drawn, warped";

    const struct {
        std::string path;
        int status;
    } refused[] = {
        {"/tiles/EUR0407/4/16/0.png", 404}, // x = 2^z
        {"/tiles/EUR0407/1/0/2.png", 404},
        {"/tiles/EUR0407/20/0/0.png", 404}, // past the finest zoom, 19
        {"/tiles/EUR0407/99/0/0.png", 404},
        {"/tiles/EUR0407/30/99999999999999999999/0.png", 404},
        {"/tiles/EUR0407/a/0/0.png", 404},
        {"/tiles/EUR0407/1/-1/0.png", 404},
        {"/tiles/EUR0407/1/0/0.gif", 404},
        {"/tiles/NOPE/1/0/0.png", 404},
        {"/tiles/../etc/passwd", 404},
        {"/tiles/EUR0407/1/0/../0.png", 404},
        {"/leaflet/../../../etc/passwd", 404},
        {"/tiles/" + std::string(10'000, 'x') + ".png", 404},
        {"/wmts?SERVICE=WMTS&REQUEST=Nothing", 400},
    };
    for (const auto& r : refused) {
        const auto answer = client->Get(r.path);
        ASSERT_TRUE(answer) << r.path.substr(0, 60);
        EXPECT_EQ(answer->status, r.status) << r.path.substr(0, 60);
        EXPECT_EQ(std::count(answer->body.begin(), answer->body.end(), '\n'), 1) << answer->body;
        EXPECT_LT(answer->body.size(), 300u);
    }
}

TEST_F(Tiles, DocumentsNameTheAddressTheClientUsedOrThePublicOne)
{
    httplib::Headers badHost{{"Host", "evil.example/<x>"}};
    EXPECT_EQ(client->Get("/tiles/EUR0407.json", badHost)->status, 400);
    const auto json = client->Get("/tiles/EUR0407.json", {{"Host", "maps.example:8047"}});
    ASSERT_TRUE(json);
    EXPECT_EQ(json->get_header_value("Vary"), "Host");
    EXPECT_NE(json->body.find("\"http://maps.example:8047/tiles/EUR0407/{z}/{x}/{y}.png\""),
              std::string::npos)
        << json->body;
    EXPECT_NE(json->body.find("\"maxzoom\":19"), std::string::npos);
    EXPECT_NE(json->body.find("\"attribution\":\"Shorelines: GSHHG\""), std::string::npos);
}

TEST_F(Tiles, GdalReadsThemThroughWmtsAndTms)
{
    const std::string base = "http://127.0.0.1:" + std::to_string(service->port());
    const QImage tile = tileImage(get("/tiles/EUR0407/5/16/10.png"));
    const QString tms = work.path() + "/tms.xml";
    QFile xml(tms);
    xml.open(QIODevice::WriteOnly);
    xml.write(QString("<GDAL_WMS><Service name=\"TMS\"><ServerUrl>%1/tiles/EUR0407/${z}/${x}/"
                      "${y}.png</ServerUrl></Service><DataWindow><UpperLeftX>-20037508.34"
                      "</UpperLeftX><UpperLeftY>20037508.34</UpperLeftY><LowerRightX>20037508.34"
                      "</LowerRightX><LowerRightY>-20037508.34</LowerRightY><TileLevel>19"
                      "</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>"
                      "<YOrigin>top</YOrigin></DataWindow><Projection>EPSG:3857</Projection>"
                      "<BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3"
                      "</BandsCount><Cache/></GDAL_WMS>")
                  .arg(QString::fromStdString(base))
                  .toUtf8());
    xml.close();
    // The tile's box in metres.
    const double size = 2 * 20037508.342789244 / 32;
    const double left = -20037508.342789244 + 16 * size;
    const double top = 20037508.342789244 - 10 * size;
    const QStringList window{"-projwin",
                             QString::number(left, 'f', 3),
                             QString::number(top, 'f', 3),
                             QString::number(left + size, 'f', 3),
                             QString::number(top - size, 'f', 3),
                             "-outsize",
                             "256",
                             "256"};
    for (const QString& opened :
         {QString::fromStdString("WMTS:" + base + "/wmts/1.0.0/WMTSCapabilities.xml,layer=EUR0407"),
          tms}) {
        const QString out = work.path() + "/read.png";
        QFile::remove(out);
        EXPECT_TRUE(runTool("gdal_translate",
                            QStringList{"-q", "-of", "PNG", "-b", "1", "-b", "2", "-b", "3"} +
                                window + QStringList{opened, out}))
            << opened.toStdString();
        EXPECT_LT(shareOff(tile, QImage(out).convertToFormat(QImage::Format_RGB32), 8), 0.01)
            << opened.toStdString();
    }
}

} // namespace
