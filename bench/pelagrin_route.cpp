// A route of 100,000 points over about 1,000 km read from its GPX file and its corridor planned
// (2 km wide, about 2,000 tiles), against reading the same file alone.
#include "benchutil.h"
#include "common/tilefolder.h"
#include "pelagrin/corridor.h"
#include "pelagrin/route.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>

int main()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trip.gpx"));
    {
        // From 45 N 5 E north-east to about 52 N 15 E, winding a little.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            return 1;
        }
        file.write("<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" "
                   "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n");
        constexpr int points = 100'000;
        for (int i = 0; i < points; ++i) {
            const double t = static_cast<double>(i) / points;
            const double lat = 45 + 7 * t + 0.05 * std::sin(t * 200);
            const double lon = 5 + 10 * t + 0.05 * std::cos(t * 170);
            file.write(QStringLiteral("<trkpt lat=\"%1\" lon=\"%2\"><ele>400</ele></trkpt>\n")
                           .arg(lat, 0, 'f', 6)
                           .arg(lon, 0, 'f', 6)
                           .toUtf8());
        }
        file.write("</trkseg></trk></gpx>\n");
    }
    constexpr double zoom = 0.9; // tiles of 0.02 degrees, 2.2 km north to south
    constexpr double width = 2;
    const pelagrin::RegionSteps steps{zoom / 45, zoom / 45};
    std::size_t tiles = 0;
    const auto plan = [&] {
        const auto route = pelagrin::readRoute(path);
        if (!route) {
            std::exit(1);
        }
        const pelagrin::Route continuous = pelagrin::continuousRoute(*route);
        const pelagrin::Corners c = pelagrin::routeCorners(continuous, width, zoom, steps);
        pelagrin::MapSettings s;
        s.zoom = zoom;
        s.beginlat = c.beginlat;
        s.beginlong = c.beginlong;
        s.endlat = c.endlat;
        s.endlong = c.endlong;
        const auto grid =
            pelagrin::planRegion(s, steps.latitude, steps.longitude, QStringLiteral("127.0.0.1:1"),
                                 common::TileFolder(QStringLiteral("MyMaps")));
        tiles = pelagrin::corridorTiles(*grid, continuous, width).size();
    };
    const auto read = [&] {
        if (!pelagrin::readRoute(path)) {
            std::exit(1);
        }
    };
    const bench::Rounds rounds = bench::alternate(7, plan, read);
    if (tiles < 1000 || tiles > 4000) {
        std::fprintf(stderr, "the corridor has %zu tiles, not about 2,000\n", tiles);
        return 1;
    }
    std::fprintf(stderr, "corridor: %zu tiles\n", tiles);
    bench::report("pelagrin_route_100k", rounds, "1.5");
    return 0;
}
