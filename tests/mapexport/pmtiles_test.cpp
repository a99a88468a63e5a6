// PMTiles archives read by a reader nobody here wrote: the npm package pmtiles that the page
// ships, run by node. Every tile it finds by z/x/y is the MBTiles export's tile of the same
// numbers, byte for byte, and its header and metadata say what the MBTiles metadata says.
#include "buildpaths.h"
#include "exportreaders.h"
#include "gifmaker.h"
#include "mapexport/gdalexport.h"
#include "mapexport/mosaic.h"
#include "mapexport/pmtilesfile.h"
#include "mapexport/regionpage.h"
#include "tempworkdir.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <map>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using testsupport::TempWorkDir;

// The archive as the reader sees it, with the SHA-256 of the tiles |wanted| ("z x y" lines).
QJsonObject readArchive(const QString& archive, const QStringList& wanted = {})
{
    QFile list(QStringLiteral("wanted.txt"));
    list.open(QIODevice::WriteOnly | QIODevice::Truncate);
    list.write(wanted.join(u'\n').toUtf8());
    list.close();
    QProcess node;
    node.start(QStringLiteral("node"),
               {QString::fromStdString(testsupport::sourceFile("tests/mapexport/pmtiles_read.js")),
                QString::fromStdString(testsupport::sourceFile("thirdparty/pmtiles/pmtiles.js")),
                archive, list.fileName()});
    if (!node.waitForFinished(60'000) || node.exitCode() != 0) {
        ADD_FAILURE() << node.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(node.readAllStandardOutput()).object();
}

QString sha256(const void* bytes, int size)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray(static_cast<const char*>(bytes), size),
                                 QCryptographicHash::Sha256)
            .toHex());
}

// An MBTiles file's tiles ("z x y" with rows from the north, as the reader numbers them) and
// their SHA-256, and its metadata.
struct Mbtiles {
    QStringList tiles;
    std::vector<QString> hashes;
    std::map<std::string, QString> metadata;
};

Mbtiles readMbtiles(const char* path)
{
    Mbtiles file;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1,
                       &query, nullptr);
    while (sqlite3_step(query) == SQLITE_ROW) {
        const int z = sqlite3_column_int(query, 0);
        const qint64 row = (qint64{1} << z) - 1 - sqlite3_column_int64(query, 2);
        file.tiles.append(
            QStringLiteral("%1 %2 %3").arg(z).arg(sqlite3_column_int64(query, 1)).arg(row));
        file.hashes.push_back(
            sha256(sqlite3_column_blob(query, 3), sqlite3_column_bytes(query, 3)));
    }
    sqlite3_finalize(query);
    sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &query, nullptr);
    while (sqlite3_step(query) == SQLITE_ROW) {
        file.metadata[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(query, 1)));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return file;
}

TEST(PmtilesExport, TheReaderFindsTheMbtilesExportsTilesAndMetadata)
{
    const struct {
        const char* name;
        bool flat;
        std::vector<mapexport::Centre> centres;
        double zoom; // of the tiles, as the folder's names give it
    } cases[] = {
        {"a small region", false, {{48, 10}, {48, 11}, {49, 10}, {49, 11}}, 45 * 1999 / 200.0},
        {"across 180 degrees", false, {{60.5, 179.5}, {60.5, 180.5}}, 45 * 1999 / 200.0},
        {"street level, ids past 2^31", false, {{48, 10}}, 0.8},
        {"one colour, kept once",
         true,
         {{48, 10}, {48, 11}, {49, 10}, {49, 11}},
         45 * 1999 / 200.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempWorkDir work;
        TempWorkDir::write(QStringLiteral("t.gif"), c.flat ? testsupport::makeFlatGif(200, 200)
                                                           : testsupport::makeGif(200, 200));
        const std::vector<const char*> files(c.centres.size(), "t.gif");
        mapexport::Mosaic mosaic =
            mapexport::planMosaic(testsupport::pictureTiles(files, 200, c.zoom), c.centres);
        mosaic.credit = QStringLiteral("Tiles <b>&</b> data");
        for (const QString& output : {QStringLiteral("r.mbtiles"), QStringLiteral("r.pmtiles")}) {
            ASSERT_TRUE(mapexport::writeExport(mosaic, *mapexport::formatOf(output), output,
                                               QStringLiteral("Region"))
                            .ok());
        }
        const Mbtiles expected = readMbtiles("r.mbtiles");
        const QJsonObject read = readArchive(QStringLiteral("r.pmtiles"), expected.tiles);
        const QJsonArray tiles = read[QStringLiteral("tiles")].toArray();
        ASSERT_EQ(tiles.size(), expected.tiles.size());
        for (int i = 0; i < tiles.size(); ++i) {
            EXPECT_EQ(tiles[i].toString(), expected.hashes[static_cast<std::size_t>(i)])
                << expected.tiles[i].toStdString();
        }

        const QJsonObject header = read[QStringLiteral("header")].toObject();
        const QJsonObject metadata = read[QStringLiteral("metadata")].toObject();
        const auto number = [&header](const char* key) {
            return header[QLatin1String(key)].toDouble();
        };
        EXPECT_EQ(number("numAddressedTiles"), expected.tiles.size()) << "no more, no fewer";
        EXPECT_EQ(number("minZoom"), expected.metadata.at("minzoom").toDouble());
        EXPECT_EQ(number("maxZoom"), expected.metadata.at("maxzoom").toDouble());
        const QStringList bounds = expected.metadata.at("bounds").split(u',');
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(number(std::array{"minLon", "minLat", "maxLon", "maxLat"}[i]),
                        bounds[i].toDouble(), 1e-6);
        }
        EXPECT_EQ(number("tileType"), expected.metadata.at("format") == "png" ? 2 : 3);
        EXPECT_TRUE(header[QStringLiteral("clustered")].toBool());
        EXPECT_EQ(metadata[QStringLiteral("name")].toString(), "Region");
        EXPECT_EQ(metadata[QStringLiteral("attribution")].toString(),
                  expected.metadata.at("attribution"));
        EXPECT_EQ(metadata[QStringLiteral("format")].toString(), expected.metadata.at("format"));
        if (c.zoom < 1) {
            EXPECT_GE(number("maxZoom"), 17) << QJsonDocument(header).toJson().toStdString();
        }
        if (c.flat) {
            // Identical tiles are stored once, and consecutive ones are one entry.
            EXPECT_LT(number("numTileContents"), number("numTileEntries"));
            EXPECT_LT(number("numTileEntries"), number("numAddressedTiles"));
        }
    }
}

TEST(PmtilesExport, ThePageComesBesideUnlessLeftOutAndNeedsLeaflet)
{
    const TempWorkDir work;
    TempWorkDir::write(QStringLiteral("t.gif"), testsupport::makeFlatGif(200, 200));
    const mapexport::Mosaic mosaic =
        mapexport::planMosaic(testsupport::pictureTiles({"t.gif"}, 200), {{48, 10}});
    mapexport::ExportSettings settings;
    for (const bool page : {true, false}) {
        settings.page = page;
        const QString output =
            page ? QStringLiteral("paged.pmtiles") : QStringLiteral("bare.pmtiles");
        ASSERT_TRUE(mapexport::writeExport(mosaic, mapexport::Format::PMTiles, output, output,
                                           nullptr, nullptr, settings)
                        .ok());
        EXPECT_EQ(QFile::exists(QFileInfo(output).completeBaseName() + ".html"), page);
    }
    const auto missing =
        mapexport::regionPage(QStringLiteral("a.pmtiles"), QStringLiteral("a"), "/nonexistent");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().text.find("libjs-leaflet"), std::string::npos);
}

TEST(PmtilesExport, EntriesBeyondTheRootsBudgetGoToLeafDirectories)
{
    const TempWorkDir work;
    // 2,000 tiles spread over zoom 8, each its own bytes of its own length, so that no run
    // joins them and their directory takes a few kilobytes.
    const auto bytesOf = [](int i) { return QByteArray::number(i).repeated(1 + i % 5); };
    QStringList wanted;
    {
        mapexport::PmtilesFile file(QStringLiteral("leaves.pmtiles"), QStringLiteral("spool"));
        for (int i = 0; i < 2000; ++i) {
            const int spread = i * 7919 % 65536;
            ASSERT_TRUE(file.put(8, spread % 256, spread / 256, bytesOf(i)).ok());
            wanted.append(QStringLiteral("8 %1 %2").arg(spread % 256).arg(spread / 256));
        }
        wanted.append(QStringLiteral("8 1 0")); // not given
        mapexport::pmtiles::Header header;
        header.maxZoom = 8;
        ASSERT_TRUE(file.finish(header, "{}", 1024).ok());
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("spool")));
    const QJsonObject read = readArchive(QStringLiteral("leaves.pmtiles"), wanted);
    const QJsonObject header = read[QStringLiteral("header")].toObject();
    EXPECT_LE(header[QStringLiteral("rootDirectoryLength")].toDouble(), 1024 - 127);
    EXPECT_GT(header[QStringLiteral("leafDirectoryLength")].toDouble(), 0);
    const QJsonArray tiles = read[QStringLiteral("tiles")].toArray();
    ASSERT_EQ(tiles.size(), wanted.size());
    for (int i = 0; i + 1 < tiles.size(); ++i) {
        const QByteArray bytes = bytesOf(i);
        EXPECT_EQ(tiles[i].toString(), sha256(bytes.constData(), static_cast<int>(bytes.size())))
            << wanted[i].toStdString();
    }
    EXPECT_TRUE(tiles.last().isNull());
}

} // namespace
