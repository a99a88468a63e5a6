// Pictures from real map sources. mapservice_xyz_cached_1999: a 1999 x 1999 picture from a
// slippy-map tile server whose tiles are all in the cache on disk (a new source each time, as
// after a restart, so only the disk cache answers), against the same picture from a local
// GeoTIFF. The tiles and the GeoTIFF hold the same smooth colours. mapservice_xyz_warm_1999:
// the same from one source that has drawn the picture before, as in the running service.
// mapservice_xyz_cached_1999_across_180: the cached picture of a place where it crosses 180
// degrees, its tiles on both sides of the grid's edge. mapservice_wmts_4326_cached_1999: the
// cached picture from a WMTS in EPSG:4326 whose tiles hold the same colours, against the same
// from the tile server in Web Mercator.
#include "benchapp.h"
#include "benchutil.h"
#include "geotiffwriter.h"
#include "loopbackserver.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/sources/sources.h"
#include "serviceloop.h"
#include "smoothtiles.h"

#include <QBuffer>
#include <QImage>

#include <httplib.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

using namespace testsupport;

// The same colours as a Web Mercator GeoTIFF over 5 to 15 E, 42 to 52 N at zoom 12's pixels.
void makeGeotiff(const std::string& path)
{
    const double pixel = 2 * half / (1 << 12) / 256;
    const double west = 5 * half / 180;
    const double north = std::log(std::tan(M_PI / 4 + 52 * M_PI / 360)) * 6378137.0;
    const double south = std::log(std::tan(M_PI / 4 + 42 * M_PI / 360)) * 6378137.0;
    const int width = static_cast<int>((15 * half / 180 - west) / pixel);
    const int height = static_cast<int>((north - south) / pixel);
    if (!testsupport::writeGeotiff(
            path, 3857, west, north, pixel, pixel, width, height, [&](int x, int y) {
                const QRgb c = colourAt(west + (x + 0.5) * pixel, north - (y + 0.5) * pixel);
                return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(qRed(c)),
                                                   static_cast<std::uint8_t>(qGreen(c)),
                                                   static_cast<std::uint8_t>(qBlue(c))};
            })) {
        std::fprintf(stderr, "cannot write the GeoTIFF\n");
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    const std::string folder = run.path().toStdString();
    makeGeotiff(folder + "/source.tif");

    std::atomic<int> requests{0};
    testsupport::LoopbackServer tiles;
    tiles.server().Get(
        R"(/(\d+)/(\d+)/(\d+)\.png)", [&](const httplib::Request& req, httplib::Response& res) {
            ++requests;
            res.set_content(tilePng(std::stoi(req.matches[1]), std::stoi(req.matches[2]),
                                    std::stoi(req.matches[3])),
                            "image/png");
        });
    tiles.server().Get(R"(/geodetic/(\d+)/(\d+)/(\d+)\.png)", [&](const httplib::Request& req,
                                                                  httplib::Response& res) {
        ++requests;
        res.set_content(geodeticTilePng(std::stoi(req.matches[1]), std::stoi(req.matches[2]),
                                        std::stoi(req.matches[3])),
                        "image/png");
    });
    tiles.server().Get("/wmts.xml", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.set_content(geodeticCapabilities(tiles.url()), "text/xml");
    });
    tiles.start();
    mapservice::RemoteOptions remote{folder + "/cache", 19, "mapservice/bench", 2048, 30};
    remote.loop = &testsupport::serviceLoop(); // run on a thread of its own while a picture waits
    const std::string xyz = "xyz:" + tiles.url() + "/{z}/{x}/{y}.png";
    const std::string wmts = "wmts:" + tiles.url() + "/wmts.xml";

    // 0.69 degrees around 47 N 10 E: tiles of zoom 12, the GeoTIFF's own resolution.
    const mapservice::MapRequest request{47, 10, 31, 1999, 1999, "EUR0407", {}};
    // The same size around 17 S 179.8 E.
    const mapservice::MapRequest across{-17, 179.8, 31, 1999, 1999, "EUR0407", {}};
    const auto pictureOf = [&](const std::string& spec, const mapservice::MapRequest& asked) {
        mapservice::SourceTable sources({}, remote);
        if (const auto added = sources.add(spec); !added) {
            std::fprintf(stderr, "%s\n", added.error().text.c_str());
            std::exit(1);
        }
        const auto drawn = mapservice::drawNow(sources, asked);
        if (!drawn) {
            std::fprintf(stderr, "%s\n", drawn.error().text.c_str());
            std::exit(1);
        }
        return mapservice::encodeGif(*drawn).size();
    };
    const auto picture = [&](const std::string& spec) { return pictureOf(spec, request); };
    picture(xyz); // fills the cache
    pictureOf(xyz, across);
    picture(wmts);
    const int fetched = requests;
    std::size_t bytes = 0;
    // In the service a source lives as long as the service: its tiles stay decoded in memory.
    mapservice::SourceTable kept({}, remote);
    if (!kept.add(xyz).ok()) {
        return 1;
    }
    // A round is three pictures: about a second.
    constexpr int repeats = 3;
    const auto times = [&](auto&& draw) {
        return [&, draw] {
            for (int i = 0; i < repeats; ++i) {
                bytes += draw();
            }
        };
    };
    // Each round times every kind of picture once, so that each ratio compares pictures of
    // the same moment: the cached ones against the GeoTIFF's, the WMTS one against XYZ's.
    bench::Rounds cached;
    bench::Rounds warm;
    bench::Rounds cachedAcross;
    bench::Rounds geodetic;
    for (int round = 0; round < 5; ++round) {
        const double fromGeotiff =
            bench::secondsOf(times([&] { return picture(folder + "/source.tif"); }));
        const double fromXyz = bench::secondsOf(times([&] { return picture(xyz); }));
        cached.add(fromXyz, fromGeotiff);
        warm.add(
            bench::secondsOf(times([&] {
                return mapservice::encodeGif(mapservice::drawNow(kept, request).value()).size();
            })),
            fromGeotiff);
        cachedAcross.add(bench::secondsOf(times([&] { return pictureOf(xyz, across); })),
                         fromGeotiff);
        geodetic.add(bench::secondsOf(times([&] { return picture(wmts); })), fromXyz);
    }
    if (requests != fetched || fetched == 0) {
        std::fprintf(stderr, "the cache did not answer: %d tiles fetched, then %d more\n", fetched,
                     requests - fetched);
        return 1;
    }
    std::printf("mapservice sources: %d tiles fetched once, %zu bytes of GIF\n", fetched, bytes);
    bench::report("mapservice_xyz_cached_1999", cached, "2");
    bench::report("mapservice_xyz_warm_1999", warm, "2");
    bench::report("mapservice_xyz_cached_1999_across_180", cachedAcross, "2");
    bench::report("mapservice_wmts_4326_cached_1999", geodetic, "1.2");
    return 0;
}
