// The page beside a PMTiles archive in a real browser: Debian's Chromium, headless, opens it
// from nginx serving the export's folder, which answers the reader's range requests. The map's
// tiles on the screen are the MBTiles export's tiles; a broken archive is a message, not a hang.
#include "exportreaders.h"
#include "gifmaker.h"
#include "mapexport/gdalexport.h"
#include "mapexport/mosaic.h"
#include "mapexport/regionpage.h"
#include "nginxprocess.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <sqlite3.h>
#include <string>

namespace {

using testsupport::TempWorkDir;

struct Browsed {
    QString dom;
    QImage shot;
};

// |url| in headless Chromium of 768 x 768 pixels that reaches no host but 127.0.0.1.
Browsed browse(const QString& url)
{
    const QString shot = QStringLiteral("shot.png");
    QFile::remove(shot);
    QProcess chromium;
    chromium.start(QStringLiteral("chromium"),
                   {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--user-data-dir=" + QDir::currentPath() + "/profile",
                    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                    "--window-size=768,768", "--virtual-time-budget=10000",
                    "--screenshot=" + QDir::currentPath() + "/" + shot, "--dump-dom", url});
    EXPECT_TRUE(chromium.waitForFinished(120'000)) << "Chromium hangs on " << url.toStdString();
    return {QString::fromUtf8(chromium.readAllStandardOutput()),
            QImage(shot).convertToFormat(QImage::Format_ARGB32)};
}

// The text of the page's message line; empty when it is hidden.
QString message(const QString& dom)
{
    const auto m = QRegularExpression(QStringLiteral(R"(<span id="message"( hidden="")?>([^<]*)<)"))
                       .match(dom);
    return m.hasMatch() && m.captured(1).isEmpty() ? m.captured(2) : QString();
}

// The MBTiles export's tile z/x/y (x, y as tile servers number them), as the page's grey
// background shows it through the tile's transparent parts.
QImage mbtilesTile(const char* path, int z, int x, int y)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 "
                       "AND tile_row = ?3",
                       -1, &query, nullptr);
    sqlite3_bind_int(query, 1, z);
    sqlite3_bind_int(query, 2, x);
    sqlite3_bind_int(query, 3, (1 << z) - 1 - y);
    QImage tile(256, 256, QImage::Format_ARGB32);
    tile.fill(QColor(0xdd, 0xdd, 0xdd));
    if (sqlite3_step(query) == SQLITE_ROW) {
        QPainter(&tile).drawImage(
            0, 0,
            QImage::fromData(QByteArray(static_cast<const char*>(sqlite3_column_blob(query, 0)),
                                        sqlite3_column_bytes(query, 0))));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return tile;
}

// The largest difference of one channel between |shot| at |x0|, |y0| and |tile|.
int largestDifference(const QImage& shot, int x0, int y0, const QImage& tile)
{
    int largest = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const QRgb a = shot.pixel(x0 + x, y0 + y);
            const QRgb b = tile.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(a) - qRed(b)),
                                std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        }
    }
    return largest;
}

TEST(PmtilesPage, ChromiumShowsTheArchivesTilesFromNginxAndTellsOfABrokenOne)
{
    const TempWorkDir work;
    TempWorkDir::write(QStringLiteral("t.gif"), testsupport::makeGif(200, 200));
    const std::vector<mapexport::Centre> centres{{48, 10}, {48, 11}, {49, 10}, {49, 11}};
    const mapexport::Mosaic mosaic = mapexport::planMosaic(
        testsupport::pictureTiles({"t.gif", "t.gif", "t.gif", "t.gif"}, 200), centres);
    mapexport::ExportSettings settings;
    settings.tiles = mapexport::TileFormat::Png; // drawn by Chromium exactly as by Qt
    for (const QString& output :
         {QStringLiteral("region.mbtiles"), QStringLiteral("region.pmtiles")}) {
        ASSERT_TRUE(mapexport::writeExport(mosaic, *mapexport::formatOf(output), output,
                                           QStringLiteral("region"), nullptr, nullptr, settings)
                        .ok());
    }
    ASSERT_TRUE(QFile::exists(QStringLiteral("region.html")));

    // Broken archives, each with a page of its own: cut short within the header, with its root
    // directory or its tiles said to lie past the end (at 2^40).
    QFile whole(QStringLiteral("region.pmtiles"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray archive = whole.readAll();
    TempWorkDir::write(QStringLiteral("short.pmtiles"), archive.left(100));
    const QByteArray far("\0\0\0\0\0\1\0\0", 8);
    TempWorkDir::write(QStringLiteral("farroot.pmtiles"), QByteArray(archive).replace(8, 8, far));
    TempWorkDir::write(QStringLiteral("fartiles.pmtiles"), QByteArray(archive).replace(56, 8, far));
    for (const char* name : {"short", "farroot", "fartiles"}) {
        TempWorkDir::write(QString::fromLatin1(name) + ".html",
                           *mapexport::regionPage(QString::fromLatin1(name) + ".pmtiles",
                                                  QString::fromLatin1(name)));
    }

    const testsupport::NginxProcess nginx(
        work.path().toStdString(),
        "  types { text/html html; }\n  default_type application/octet-stream;\n"
        "  server { listen 127.0.0.1:@PORT@; root " +
            work.path().toStdString() + "; }\n",
        true);
    ASSERT_TRUE(nginx.up()) << nginx.errors();
    const QString site = QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port());

    // A view whose middle is the corner of four tiles of zoom 9 within the region: at 768
    // pixels a side they lie whole from 128 to 640.
    const int z = 9;
    const int x = 271; // 10.55 degrees east
    const int y = 177; // 48.5 degrees north
    const double pi = std::acos(-1.0);
    const double lat = std::atan(std::sinh(pi * (1 - 2.0 * y / (1 << z)))) * 180 / pi;
    const double lon = x * 360.0 / (1 << z) - 180;
    const Browsed shown = browse(
        site +
        QStringLiteral("region.html#%1/%2/%3").arg(z).arg(lat, 0, 'f', 10).arg(lon, 0, 'f', 10));
    EXPECT_EQ(message(shown.dom), QString()) << shown.dom.toStdString();
    ASSERT_EQ(shown.shot.width(), 768);
    // Headless Chromium lays the page out in a smaller window than it shoots, and Leaflet keeps
    // the middle where it was to the nearest pixel: the squares lie within a few pixels of 128.
    const QImage first = mbtilesTile("region.mbtiles", z, x - 1, y - 1);
    int left = 128;
    int top = 128;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            if (largestDifference(shown.shot, 128 + dx, 128 + dy, first) <= 1) {
                left = 128 + dx;
                top = 128 + dy;
            }
        }
    }
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            SCOPED_TRACE(std::to_string(x - 1 + dx) + "/" + std::to_string(y - 1 + dy));
            EXPECT_LE(largestDifference(shown.shot, left + 256 * dx, top + 256 * dy,
                                        mbtilesTile("region.mbtiles", z, x - 1 + dx, y - 1 + dy)),
                      1);
        }
    }
    // Every request reached the test's server, and asked only for the page and the archive.
    QFile log(work.path() + "/access.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    int ranges = 0;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (!line.isEmpty() && !line.contains("cpp-httplib")) { // the test's own "is it up?"
            EXPECT_TRUE(line.contains("GET /region.html ") ||
                        line.contains("GET /region.pmtiles ") || line.contains("GET /favicon.ico "))
                << line.toStdString();
            ranges += line.contains(" 206 ") ? 1 : 0;
        }
    }
    EXPECT_GT(ranges, 0) << "the archive is read by range requests";

    const struct {
        QString url;
        const char* told;
    } broken[] = {
        {site + "short.html", "short.pmtiles cannot be read"},
        {site + "farroot.html", "farroot.pmtiles cannot be read"},
        {site + "fartiles.html", "A tile of fartiles.pmtiles cannot be read"},
        {"file://" + work.path() + "/region.html", "Opened from the disk: pick region.pmtiles"},
    };
    for (const auto& b : broken) {
        SCOPED_TRACE(b.url.toStdString());
        const Browsed page = browse(b.url);
        EXPECT_TRUE(message(page.dom).startsWith(QString::fromLatin1(b.told)))
            << message(page.dom).toStdString();
    }
}

} // namespace
