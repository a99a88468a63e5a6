// The map page in a real browser: Debian's Chromium, headless, loads it from the service
// process and draws the service's tiles with Leaflet.
#include "buildpaths.h"
#include "serviceprocess.h"
#include "tempworkdir.h"

#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

TEST(MapPage, ChromiumDrawsTheServicesTilesWithoutAnError)
{
    const testsupport::TempWorkDir work;
    testsupport::ServiceProcess service(testsupport::program("mapservice"));
    ASSERT_GT(service.port(), 0);
    const QString shot = work.path() + "/page.png";
    QProcess chromium;
    chromium.start("chromium",
                   {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--user-data-dir=" + work.path() + "/profile", "--window-size=800,600",
                    "--virtual-time-budget=10000", "--screenshot=" + shot, "--dump-dom",
                    QString("http://127.0.0.1:%1/#4/48/10").arg(service.port())});
    ASSERT_TRUE(chromium.waitForFinished(120'000));
    const QString dom = QString::fromUtf8(chromium.readAllStandardOutput());
    EXPECT_TRUE(dom.contains("<span id=\"error\"></span>")) << dom.toStdString();
    EXPECT_GE(dom.count("leaflet-tile-loaded"), 4) << dom.toStdString();
    EXPECT_TRUE(dom.contains("Shorelines: GSHHG"));

    // The map below the page's header: Europe's land and the seas around it, in the drawn
    // map's colours.
    const QImage page = QImage(shot).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(page.width(), 800);
    int land = 0;
    int sea = 0;
    for (int y = 150; y < page.height(); y += 4) {
        for (int x = 0; x < page.width(); x += 4) {
            const QRgb p = page.pixel(x, y);
            land += p == qRgb(238, 234, 218);
            sea += p == qRgb(170, 211, 240);
        }
    }
    const int samples = (page.height() - 150) / 4 * page.width() / 4;
    EXPECT_GT(land, samples / 5);
    EXPECT_GT(sea, samples / 5);
}

} // namespace
