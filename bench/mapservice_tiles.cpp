// Map tiles from the service. mapservice_tiles_256: 2,000 different 256-pixel tiles passed
// through from a tile server whose tiles are in the service's cache, eight clients at once
// against the service process, against the same PNG files served by nginx from disk; and
// (_nginx_cache) the second pass through nginx's cache in front of the service, against the same
// static files. mapservice_tiles_warped_256: 2,000 tiles of a WMTS in EPSG:4326 whose tiles are
// in the cache, drawn and warped, against 2,000 pictures of 256 x 256 of the same boxes.
#include "benchapp.h"
#include "benchutil.h"
#include "loopbackclient.h"
#include "loopbackserver.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/draw/tilewarp.h"
#include "mapservice/protocol/tileask.h"
#include "mapservice/sources/sources.h"
#include "nginxprocess.h"
#include "serviceloop.h"
#include "serviceprocess.h"
#include "smoothtiles.h"

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int clients = 8;
constexpr int columns = 50; // tiles 2150.. of zoom 12
constexpr int rows = 40;    // tiles 1400..
constexpr int total = columns * rows;

std::string tilePath(int i)
{
    return "/tiles/EUR0407/12/" + std::to_string(2150 + i % columns) + "/" +
           std::to_string(1400 + i / columns) + ".png";
}

// Every tile, |clients| kept-alive connections at once; the answers that were no PNG.
int fetchAll(int port)
{
    std::atomic<int> errors{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const int fd = testsupport::connectFrom("127.0.0.1", port, 60);
            for (int i = c; i < total; i += clients) {
                const std::string answer = testsupport::roundTrip(
                    fd, "GET " + tilePath(i) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                const auto body = answer.find("\r\n\r\n");
                if (testsupport::statusOf(answer) != 200 ||
                    answer.compare(body + 4, 4, "\x89PNG") != 0) {
                    ++errors;
                }
            }
            ::close(fd);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return errors;
}

// The pass-through against nginx's static files and nginx's cache.
int passedThrough(const std::string& dir, const std::string& program)
{
    const std::string folder = dir + "/static";
    for (int i = 0; i < total; ++i) {
        const std::string path = folder + tilePath(i);
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary)
            << testsupport::tilePng(12, 2150 + i % columns, 1400 + i / columns);
    }
    testsupport::LoopbackServer upstream;
    upstream.server().set_mount_point("/", folder + "/tiles/EUR0407");
    upstream.start();
    const testsupport::ServiceProcess service(
        program,
        {"--source", "xyz:" + upstream.url() + "/{z}/{x}/{y}.png", "--cache", dir + "/cache"},
        dir + "/service.err");
    if (service.port() == 0) {
        std::ifstream said(dir + "/service.err");
        std::fprintf(stderr, "the service did not start: %s\n",
                     std::string(std::istreambuf_iterator<char>(said), {}).c_str());
        return 1;
    }
    // nginx serving the tiles of |folder|, and the service through its cache.
    const testsupport::NginxProcess nginx(
        dir,
        "  proxy_cache_path " + dir + "/cache levels=1:2 keys_zone=tiles:10m;\n" +
            "  upstream service { server 127.0.0.1:" + std::to_string(service.port()) +
            "; keepalive 8; }\n" + "  server { listen 127.0.0.1:@PORT@; root " + folder + "; }\n" +
            "  server { listen 127.0.0.1:@PORT2@;\n" +
            "    location / { proxy_pass http://service; proxy_http_version 1.1;\n" +
            "      proxy_set_header Connection \"\"; proxy_cache tiles; } }\n",
        false, 2);
    const int staticPort = nginx.port();
    const int cachePort = nginx.secondPort();
    int errors = fetchAll(service.port()) + fetchAll(cachePort); // the caches filled
    bench::Rounds direct;
    bench::Rounds cached;
    for (int round = 0; round < 5; ++round) {
        // Five passes a measurement: one pass of nginx's takes a few hundredths of a second.
        const auto passes = [&](int port) {
            return bench::secondsOf([&] {
                for (int pass = 0; pass < 5; ++pass) {
                    errors += fetchAll(port);
                }
            });
        };
        const double fromDisk = passes(staticPort);
        direct.add(passes(service.port()), fromDisk);
        cached.add(passes(cachePort), fromDisk);
    }
    std::printf("mapservice tiles: %d tiles passed through by %d clients, %d errors\n", total,
                clients, errors);
    bench::report("mapservice_tiles_256", direct, errors == 0 ? "3" : "3 errors");
    bench::report("mapservice_tiles_256_nginx_cache", cached, "1.2");
    return errors;
}

// Tiles of a WMTS in EPSG:4326, drawn and warped, against pictures of the same boxes.
void warped(const std::string& dir)
{
    testsupport::LoopbackServer tiles;
    tiles.server().Get(R"(/geodetic/(\d+)/(\d+)/(\d+)\.png)",
                       [](const httplib::Request& req, httplib::Response& res) {
                           res.set_content(testsupport::geodeticTilePng(std::stoi(req.matches[1]),
                                                                        std::stoi(req.matches[2]),
                                                                        std::stoi(req.matches[3])),
                                           "image/png");
                       });
    tiles.server().Get("/wmts.xml", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(testsupport::geodeticCapabilities(tiles.url()), "text/xml");
    });
    tiles.start();
    mapservice::RemoteOptions remote{dir + "/wmts-cache", 19, "mapservice/bench", 2048, 30};
    remote.loop = &testsupport::serviceLoop();
    mapservice::SourceTable table({}, remote);
    if (!table.add("wmts:" + tiles.url() + "/wmts.xml").ok() || !table.addLegend("none").ok()) {
        std::exit(1);
    }
    std::size_t bytes = 0;
    const auto tile = [&](int i) {
        const mapservice::TileAsk ask{"EUR0407",          12, 2150 + i % columns,
                                      1400 + i / columns, 1,  mapservice::TileFormat::Png};
        const mapservice::MapRequest request = mapservice::tilePicture(ask);
        bytes += mapservice::warpToTile(mapservice::drawNow(table, request).value(),
                                        mapservice::Geometry(request), ask)
                     .value()
                     .size();
    };
    const auto picture = [&](int i) {
        const common::GeoBox box = mapservice::tileBox(12, 2150 + i % columns, 1400 + i / columns);
        const mapservice::MapRequest request{
            {(box.north + box.south) / 2, (box.west + box.east) / 2},
            (box.east - box.west) / 256 * 45 * 1999,
            256,
            256,
            "EUR0407",
            {}};
        bytes += mapservice::encodeGif(mapservice::drawNow(table, request).value()).size();
    };
    for (int i = 0; i < total; ++i) {
        tile(i); // the upstream's tiles into the cache
    }
    bench::Rounds rounds;
    for (int round = 0; round < 4; ++round) {
        const int from = round * total / 4;
        const int to = (round + 1) * total / 4;
        const double pictures = bench::secondsOf([&] {
            for (int i = from; i < to; ++i) {
                picture(i);
            }
        });
        rounds.add(bench::secondsOf([&] {
                       for (int i = from; i < to; ++i) {
                           tile(i);
                       }
                   }),
                   pictures);
    }
    std::printf("mapservice warped tiles: %d tiles and pictures, %zu bytes\n", total, bytes);
    bench::report("mapservice_tiles_warped_256", rounds, "1.2");
}

} // namespace

int main(int argc, char** argv)
{
    // Before the run moves into its folder, where argv[0] names nothing.
    const std::string program =
        fs::absolute(testsupport::ServiceProcess::beside(argv[0], "mapservice")).native();
    const bench::OffscreenRun run(argc, argv);
    const std::string dir = run.path().toStdString();
    const int errors = passedThrough(dir, program);
    warped(dir);
    return errors == 0 ? 0 : 1;
}
