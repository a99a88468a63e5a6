#include "common/worldfile.h"
#include "gifmaker.h"
#include "mapexport/exportplan.h"
#include "mapexport/mosaic.h"
#include "mapexport/ongrid.h"
#include "mapexport/tilepyramid.h"
#include "mapexport/tiles.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <sys/stat.h>

namespace {

using mapexport::Centre;
using mapexport::Tile;
using testsupport::TempWorkDir;

TEST(ExportScan, ForeignNamesAreListedAndWorldFilesRead)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(8, 6);
    TempWorkDir::writeTiles({"IDA_E_B48!00L10!00Z45.gif", "IDA_W_B48!00L11!00Z45.gif", "notes.gif",
                             "IDA_X_B48L12Z45.gif"},
                            gif);
    const auto place = common::pictureGeoTransform({48.000001, 10.000001}, 45, 8, 6);
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B48!00L10!00Z45.gfw"),
                       common::worldFileText(place));

    const mapexport::Scan scan = mapexport::scanFolder(common::TileFolder::lookUp());
    EXPECT_EQ(scan.foreign, (QStringList{"IDA_X_B48L12Z45.gif", "notes.gif"}));
    ASSERT_EQ(scan.tiles.size(), 2u);
    EXPECT_EQ(scan.tiles[0].mapType, 1);
    EXPECT_EQ(scan.tiles[1].mapType, 2);
    EXPECT_EQ(scan.tiles[0].width, 8);
    EXPECT_EQ(scan.tiles[0].height, 6);
    EXPECT_EQ(scan.tiles[0].place, place);
    EXPECT_FALSE(scan.tiles[1].place.has_value());
}

// Tiles of two sources are two sets, each naming its source and credit; a tile that records no
// source joins the one source of its zoom and map type.
TEST(ExportScan, TilesOfTwoSourcesAreTwoSets)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(8, 6);
    const QStringList names{"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif",
                            "IDA_E_B48!00L12!00Z45.gif", "IDA_W_B48!00L13!00Z45.gif",
                            "IDA_W_B48!00L14!00Z45.gif"};
    TempWorkDir::writeTiles(names, gif);
    const char* sources[] = {"aaaa", "bbbb", "bbbb", "cccc", ""};
    for (qsizetype i = 0; i < names.size(); ++i) {
        TempWorkDir::write(common::auxFilePath(QStringLiteral("mymaps/") + names[i]),
                           common::auxFileText({}, QStringLiteral("credit %1").arg(i),
                                               QString::fromLatin1(sources[i])));
    }
    const mapexport::Scan scan = mapexport::scanFolder(common::TileFolder::lookUp());
    ASSERT_EQ(scan.tiles.size(), 5u);
    EXPECT_EQ(scan.tiles[4].source, QStringLiteral("cccc")) << "joins its kind's one source";
    QStringList named; // what each set's line says of its source, the largest set first
    for (const auto& set : mapexport::tileSets(scan.tiles)) {
        named.append(mapexport::describe(set).section(QStringLiteral(", source "), 1));
    }
    EXPECT_EQ(named, (QStringList{"bbbb (credit 1)", "" /* the one source of map type 2 */,
                                  "aaaa (credit 0)"}));
}

// A name from outside stays on its line in the summary, in the order it is stored.
TEST(ExportSummary, NamesStayOnTheirLines)
{
    mapexport::ExportReport report;
    report.file = QStringLiteral("x\ny.tif");
    report.leftOut = {QStringLiteral("IDA_\n\u202Egif.exe.gif: not a tile name")};
    const QString text = mapexport::summaryText(report);
    EXPECT_EQ(text.split(u'\n'),
              (QStringList{"Written: x?y.tif (0 bytes)", "0 tiles written, 0 x 0 pixels",
                           "Left out:", "  IDA_??gif.exe.gif: not a tile name"}));
}

// A scan tells how many tiles it has decoded, and stops when asked.
TEST(ExportScan, ReportsProgressAndStopsWhenAsked)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(TempWorkDir::tileRow(40), testsupport::makeGif(8, 6));
    for (const int stopAfter : {0, 5}) {
        std::atomic<int> heard{0};
        std::atomic<int> most{0};
        const auto scan =
            mapexport::scanFolder(common::TileFolder::lookUp(), [&](int decoded, int tiles) {
                EXPECT_EQ(tiles, 40);
                most = std::max(most.load(), decoded);
                return stopAfter == 0 || ++heard < stopAfter;
            });
        if (stopAfter == 0) {
            EXPECT_FALSE(scan.stopped);
            EXPECT_EQ(most.load(), 40);
            EXPECT_EQ(scan.tiles.size(), 40u);
        } else {
            EXPECT_TRUE(scan.stopped);
            EXPECT_LT(scan.tiles.size(), 40u) << "the rest not read";
        }
    }
}

struct DamageCase {
    const char* tile;
    QByteArray body;        // of the tile
    const char* worldFile;  // its .gfw's text; nullptr: none; "fifo": a pipe
    const char* leftOutWhy; // nullptr: taken
    const char* warning;    // nullptr: its world file, if any, believed
};

TEST(ExportScan, NothingInTheFolderIsTakenOnTrust)
{
    TempWorkDir work;
    const QByteArray gif = testsupport::makeGif(8, 6);
    const QByteArray world = common::worldFileText(common::pictureGeoTransform({48, 10}, 45, 8, 6));
    // Whole blocks whose compressed data are noise: only decoding tells.
    QByteArray garbled = gif;
    const int firstBlock = 13 + 16 * 3 + 10 + 1; // header, colours, image descriptor, code size
    for (int i = 1; i <= static_cast<unsigned char>(gif[firstBlock]); ++i) {
        garbled[firstBlock + i] = '\xff';
    }
    QByteArray huge = gif; // a few bytes that declare 65535 x 65535 pixels
    huge[6] = huge[7] = huge[8] = huge[9] = '\xff';
    const DamageCase cases[] = {
        {"IDA_E_B48!00L10!00Z45.gif", gif, world.constData(), nullptr, nullptr},
        {"IDA_E_B47!00L10!00Z45.gif", gif.left(gif.size() - 1), nullptr, "not a readable picture",
         nullptr},
        {"IDA_E_B46!00L10!00Z45.gif", {}, nullptr, "no whole GIF, 0 bytes", nullptr},
        {"IDA_E_B45!00L10!00Z45.gif", gif, "fifo", "is not a regular file", nullptr},
        {"IDA_E_B44!00L10!00Z45.gif", gif, "nan\n0\n0\n-1\n10\n44\n", nullptr, "not finite"},
        {"IDA_E_B43!00L10!00Z45.gif", gif, "0\n0\n0\n-1\n10\n43\n", nullptr, "zero or the wrong"},
        {"IDA_E_B42!00L10!00Z45.gif", gif, "0.0001\n0\n0\n-0.0001\n170\n42\n", nullptr,
         "more than a tile"},
        {"IDA_E_B0!00L10!00Z0.gif", gif, nullptr, "zoom 0", nullptr},
        {"IDA_E_B95!00L10!00Z45.gif", gif, nullptr, "not on the earth", nullptr},
        {"IDA_E_B40!00L600!00Z45.gif", gif, nullptr, "not on the earth", nullptr},
        {"IDA_E_B39!00L10!00Z45.gif", garbled, nullptr, "cannot be decoded", nullptr},
        {"IDA_E_B38!00L10!00Z45.gif", huge, nullptr, "declares 65535 x 65535 pixels", nullptr},
    };
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
    for (const DamageCase& c : cases) {
        const QString path = QStringLiteral("mymaps/") + QString::fromLatin1(c.tile);
        TempWorkDir::write(path, c.body);
        const QString gfw = common::worldFilePath(path);
        if (c.worldFile != nullptr && std::string(c.worldFile) == "fifo") {
            ASSERT_EQ(::mkfifo(QFile::encodeName(gfw).constData(), 0600), 0);
        } else if (c.worldFile != nullptr) {
            TempWorkDir::write(gfw, c.worldFile);
        }
    }
    const mapexport::Scan scan = mapexport::scanFolder(common::TileFolder::lookUp());
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.tile);
        const QString name = QString::fromLatin1(c.tile);
        const QStringList out = scan.leftOut.filter(name + u':');
        const QStringList warned = scan.warnings.filter(name + u':');
        ASSERT_EQ(out.size(), c.leftOutWhy != nullptr ? 1 : 0);
        if (c.leftOutWhy != nullptr) {
            EXPECT_TRUE(out.front().contains(QString::fromLatin1(c.leftOutWhy)))
                << out.front().toStdString();
        }
        ASSERT_EQ(warned.size(), c.warning != nullptr ? 1 : 0);
        if (c.warning != nullptr) {
            EXPECT_TRUE(warned.front().contains(QString::fromLatin1(c.warning)))
                << warned.front().toStdString();
        }
    }
    EXPECT_EQ(scan.tiles.size(), 4u);
    EXPECT_EQ(std::count_if(scan.tiles.begin(), scan.tiles.end(),
                            [](const Tile& t) { return t.place.has_value(); }),
              1);
}

Tile tile(double zoom, int type)
{
    Tile t;
    t.zoom = zoom;
    t.mapType = type;
    return t;
}

TEST(ExportChoice, OneZoomOneTypeAndOneSourceOrAMessageListingThem)
{
    const std::vector<Tile> mixed{tile(20, 1), tile(150, 1), tile(150, 2)};
    const auto from = [](Tile t, const char* source, const char* credit) {
        t.source = QString::fromLatin1(source);
        t.credit = QString::fromLatin1(credit);
        return t;
    };
    const std::vector<Tile> sources{from(tile(45, 1), "aaaa", "Drawn"),
                                    from(tile(45, 1), "bbbb", "WMS"),
                                    from(tile(45, 1), "bbbb", "WMS")};
    using mapexport::Choice;
    const struct {
        std::vector<Tile> tiles;
        Choice choice;
        std::size_t chosen; // 0: refused
        const char* message;
    } cases[] = {
        {{tile(20, 1), tile(20, 1)}, {}, 2, nullptr},
        {mixed,
         {},
         0,
         "The folder holds tiles of zoom 20, 150 and map type 1, 2. Choose one zoom with --zoom "
         "and one map type with --type."},
        {mixed, Choice{150, std::nullopt, std::nullopt}, 0,
         "The folder holds tiles of zoom 20, 150 and map type 1, 2."},
        {mixed, Choice{150, 2, std::nullopt}, 1, nullptr},
        {mixed, Choice{std::nullopt, 2, std::nullopt}, 1, nullptr},
        {mixed, Choice{45, std::nullopt, std::nullopt}, 0,
         "No tile is of the zoom, map type and source asked for."},
        {{}, {}, 0, "The folder holds no tiles."},
        {sources,
         {},
         0,
         "The tiles of zoom 45 and map type 1 were drawn by different sources, which one file "
         "must not mix. Sources: aaaa (Drawn, 1 tiles), bbbb (WMS, 2 tiles). Choose one with "
         "--source-id."},
        {sources, Choice{std::nullopt, std::nullopt, QStringLiteral("bbbb")}, 2, nullptr},
        {sources, Choice{std::nullopt, std::nullopt, QStringLiteral("cccc")}, 0,
         "No tile is of the zoom, map type and source asked for. The folder holds tiles of zoom "
         "45 and map type 1. Sources: aaaa"},
    };
    for (const auto& c : cases) {
        const auto chosen = mapexport::chooseTiles(c.tiles, c.choice);
        if (c.chosen > 0) {
            ASSERT_TRUE(chosen.ok()) << chosen.error().text;
            EXPECT_EQ(chosen->size(), c.chosen);
        } else {
            ASSERT_FALSE(chosen.ok());
            EXPECT_EQ(chosen.error().text.rfind(c.message, 0), 0u) << chosen.error().text;
        }
    }
}

// The cut a tile name makes of a coordinate: two decimals, toward zero.
double cut(double value)
{
    return std::trunc(value * 100) / 100;
}

TEST(ExportSnap, CutCentresGoBackToTheRegionsGrid)
{
    const struct {
        double start;
        double zoom;
        double step;
        int lines;
        double within; // degrees
    } grids[] = {
        {47.000001, 20, 20.0 / 45, 8, 1e-9},    // zoom 20, the default offset: exact
        {49.000001, 20, 20.0 / 45, 3, 1e-9},    // three lines, cut to 49.00, 49.44, 49.88
        {-12.499999, 150, 150.0 / 50, 6, 1e-9}, // zoom 150, offset 50, south of the equator
        {9.476380, 5, 5.0 / 45, 12, 0.002},     // zoom 5, not from a round start
        {-33.999999, 45, 1, 4, 1e-9},           // names without decimals: B-34, B-33, ...
        {48.123457, 135, 3, 1, 0.005},          // one line: the middle of its interval
    };
    for (const auto& g : grids) {
        std::vector<double> truth;
        std::vector<double> names;
        for (int i = 0; i < g.lines; ++i) {
            for (int twice = 0; twice < 2; ++twice) { // every line holds several tiles
                truth.push_back(g.start + i * g.step);
                names.push_back(cut(truth.back()));
            }
        }
        const std::vector<double> snapped = mapexport::snapToGrid(names, g.zoom);
        double worst = 0;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            worst = std::max(worst, std::abs(snapped[i] - truth[i]));
            EXPECT_LE(std::abs(snapped[i] - names[i]), 0.01) << "within its interval";
        }
        EXPECT_LT(worst, g.within) << g.start << " step " << g.step;
    }
}

TEST(ExportMosaic, EachTileShowsWhatIsNearerToItsCentre)
{
    // Three tiles of 100 x 100 pixels at zoom 45 * 1999 / 100, so a pixel is a hundredth of a
    // degree and a tile a degree: two in a row 0.8 degrees apart, overlapping, one below the
    // first, 1.1 degrees away, leaving a gap.
    const double zoom = 45 * 1999 / 100.0;
    std::vector<Tile> tiles(3, tile(zoom, 1));
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        tiles[i].path = QStringLiteral("/t%1.gif").arg(i);
        tiles[i].width = 100;
        tiles[i].height = 100;
    }
    const std::vector<Centre> centres{{48, 10}, {48, 10.8}, {46.9, 10}};
    const mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, centres);
    EXPECT_NEAR(mosaic.transform[0], 9.5, 1e-9);
    EXPECT_NEAR(mosaic.transform[3], 48.5, 1e-9);
    EXPECT_EQ(mosaic.width, 180);
    EXPECT_EQ(mosaic.height, 210);
    ASSERT_EQ(mosaic.pieces.size(), 3u);
    // The first tile up to the middle (10.4 E) and down to its own edge; the second from there;
    // the third below, from its own top edge.
    EXPECT_EQ(mosaic.pieces[0].destination, QRect(0, 0, 90, 100));
    EXPECT_EQ(mosaic.pieces[0].source, QRectF(0, 0, 90, 100));
    EXPECT_EQ(mosaic.pieces[1].destination, QRect(90, 0, 90, 100));
    EXPECT_EQ(mosaic.pieces[1].source, QRectF(10, 0, 90, 100));
    EXPECT_EQ(mosaic.pieces[2].destination, QRect(0, 110, 100, 100));
    EXPECT_EQ(mosaic.pieces[2].source, QRectF(0, 0, 100, 100));

    // The third is 0.1 degrees below the first: a group of its own.
    const auto groups = mapexport::tileGroups(tiles, centres);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].tiles, 2);
    EXPECT_NEAR(groups[0].bounds.west, 9.5, 1e-9);
    EXPECT_NEAR(groups[0].bounds.east, 11.3, 1e-9);
    EXPECT_EQ(groups[1].tiles, 1);
    EXPECT_NEAR(groups[1].bounds.north, 47.4, 1e-9);

    const QByteArray vrt = mapexport::mosaicVrt(mosaic);
    EXPECT_EQ(vrt.count("<ComplexSource>"), 12); // three tiles, three colour bands and alpha
    EXPECT_TRUE(vrt.contains("<ColorTableComponent>3</ColorTableComponent>"));
}

TEST(ExportPyramid, ZoomsAndBoundsOnBothSidesOf180)
{
    struct Case {
        double west, north, degrees, width, height; // the mosaic
        int minZoom, maxZoom;
        double boundsWest, boundsEast;
    };
    for (const Case& c : {
             // A degree of zoom-45 tiles (0.0005 degrees a pixel) at 60 N.
             Case{10, 61, 0.0005, 2000, 2000, 6, 12, 10, 11},
             // The same across 180 degrees: only the whole world is one tile, and the bounds
             // take every longitude.
             Case{179.5, 61, 0.0005, 2000, 2000, 0, 12, -180, 180},
             // Named west of -180, and a region wider than the world stops at one world.
             Case{-181, 61, 0.0005, 4000, 2000, 0, 12, -180, 180},
             Case{-361, 61, 0.0005, 2000, 2000, 6, 12, -1, 0},
             Case{-170, 10, 0.05, 8000, 200, 0, 5, -180, 180},
         }) {
        mapexport::Mosaic m;
        m.transform = {c.west, c.degrees, 0, c.north, 0, -c.degrees};
        m.width = static_cast<int>(c.width);
        m.height = static_cast<int>(c.height);
        const mapexport::PyramidPlan plan = mapexport::planPyramid(m);
        SCOPED_TRACE(c.west);
        EXPECT_EQ(plan.minZoom, c.minZoom);
        EXPECT_EQ(plan.maxZoom, c.maxZoom);
        EXPECT_DOUBLE_EQ(plan.bounds.west, c.boundsWest);
        EXPECT_DOUBLE_EQ(plan.bounds.east, c.boundsEast);
    }
}

TEST(ExportGrid, TilesTheMapTileGridCannotHoldAreLeftOutWithTheirReason)
{
    const struct {
        double zoom, latitude, longitude;
        const char* why; // nullptr: kept
    } cases[] = {
        {150, 48.5, -179.99, nullptr},
        {150, 48.5, 539.99, nullptr},
        {0.01, 10, 10, nullptr},
        {0.00001, 10, 10, "narrower than one pixel"},
        {1e15, 10, 10, "more than the whole earth"},
        {150, 89.99, 539.99, "wholly beyond 85.0511"},
        {150, -89.99, 0, "wholly beyond 85.0511"},
        {150, 86, 0, nullptr}, // reaches below the grid's edge
    };
    std::vector<Tile> tiles;
    std::vector<Centre> centres;
    for (const auto& c : cases) {
        Tile t = tile(c.zoom, 1);
        t.width = t.height = 1999;
        t.path = QString::number(tiles.size());
        tiles.push_back(t);
        centres.push_back({c.latitude, c.longitude});
    }
    const mapexport::OnGrid kept = mapexport::keepOnGrid(tiles, centres);
    int leftOut = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const QStringList out = kept.leftOut.filter(QStringLiteral("%1: ").arg(i));
        ASSERT_EQ(out.size(), cases[i].why != nullptr ? 1 : 0);
        if (cases[i].why != nullptr) {
            EXPECT_TRUE(out.front().contains(QString::fromLatin1(cases[i].why)))
                << out.front().toStdString();
            ++leftOut;
        }
    }
    EXPECT_EQ(kept.tiles.size(), std::size(cases) - static_cast<std::size_t>(leftOut));
    EXPECT_EQ(kept.centres.size(), kept.tiles.size());
}

} // namespace
