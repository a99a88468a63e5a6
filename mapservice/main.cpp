// The local map service: answers the map requests of the downloader with GIF pictures, drawn
// from the shoreline data on this machine or cut from the map sources it is given.
#include "font.h"
#include "server.h"
#include "sources.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    bool help = false;
    std::string bind = "127.0.0.1";
    int port = 8047;
    std::string data = MAPSERVICE_DATA_DIR;
    std::vector<std::string> sources;
    std::vector<std::string> attributions;
    std::string cache;
    int cacheMaxMegabytes = 2048;
    int maxZoom = 19;
    std::string contact;
};

void usage(FILE* out)
{
    std::fprintf(
        out,
        "usage: mapservice [--bind ADDRESS] [--port PORT] [--data FOLDER]\n"
        "                  [--source [CODE=]SPEC]... [--attribution [CODE=]TEXT]...\n"
        "                  [--cache FOLDER] [--cache-max-mb MB] [--max-zoom Z] [--contact TEXT]\n"
        "Serves map pictures at http://ADDRESS:PORT/pub/agent.dll\n"
        "  --bind ADDRESS      address to listen on (default 127.0.0.1)\n"
        "  --port PORT         port to listen on (default 8047; 0 picks a free one)\n"
        "  --data FOLDER       binned shoreline files (default %s)\n"
        "  --source SPEC       where the pictures come from, for every map code:\n"
        "                        drawn        the map drawn from the shorelines (default)\n"
        "                        xyz:URL      a slippy-map tile server, URL with {z} {x} {y}\n"
        "                        wms:URL      a WMS GetMap endpoint, URL with LAYERS=...\n"
        "                        FILE         anything GDAL opens as a raster (GeoTIFF, MBTiles,\n"
        "                                     VRT, a GDAL WMS/TMS description)\n"
        "  --source CODE=SPEC  the same for one map code (EUR0407, USA407, EURO809, WLD0407), or\n"
        "                      type1 (the first three) or type2 (WLD0407); wins over SPEC alone\n"
        "  --attribution [CODE=]TEXT  the credit the legend names for the source of every map\n"
        "                      code or of one (default: the source's own, where it has one)\n"
        "  --cache FOLDER      upstream tiles (default $XDG_CACHE_HOME/mapservice or\n"
        "                      ~/.cache/mapservice)\n"
        "  --cache-max-mb MB   the most the cache may hold (default 2048)\n"
        "  --max-zoom Z        the finest tile zoom asked of a tile server (default 19)\n"
        "  --contact TEXT      added to the User-Agent, as tile servers ask\n"
        "  --help              this text\n",
        MAPSERVICE_DATA_DIR);
}

// Read once at start, before any other thread runs.
std::string defaultCache()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); // NOLINT(concurrency-mt-unsafe)
        xdg != nullptr && *xdg != '\0') {
        return std::string(xdg) + "/mapservice";
    }
    const char* home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe)
    return std::string(home != nullptr ? home : ".") + "/.cache/mapservice";
}

std::optional<long> number(const char* text, long low, long high)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    options.cache = defaultCache();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--bind" && hasValue) {
            options.bind = argv[++i];
        } else if ((arg == "--port" || arg == "--max-zoom" || arg == "--cache-max-mb") &&
                   hasValue) {
            // The allowed range and where the value goes, by option.
            const bool port = arg == "--port";
            const bool zoom = arg == "--max-zoom";
            const auto value = number(argv[++i], port || zoom ? 0 : 1,
                                      port   ? 65535
                                      : zoom ? 24
                                             : 1'000'000);
            if (!value) {
                std::fprintf(stderr, "mapservice: bad value for %s: %s\n", arg.c_str(), argv[i]);
                return std::nullopt;
            }
            (port   ? options.port
             : zoom ? options.maxZoom
                    : options.cacheMaxMegabytes) = static_cast<int>(*value);
        } else if (arg == "--data" && hasValue) {
            options.data = argv[++i];
        } else if (arg == "--source" && hasValue) {
            options.sources.emplace_back(argv[++i]);
        } else if (arg == "--attribution" && hasValue) {
            options.attributions.emplace_back(argv[++i]);
        } else if (arg == "--cache" && hasValue) {
            options.cache = argv[++i];
        } else if (arg == "--contact" && hasValue) {
            options.contact = argv[++i];
        } else {
            std::fprintf(stderr, "mapservice: unknown or incomplete option %s\n", arg.c_str());
            usage(stderr);
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = parseOptions(argc, argv);
    if (!options) {
        return 2;
    }
    if (options->help) {
        usage(stdout);
        return 0;
    }
    if (const auto error = mapservice::fontError()) {
        std::fprintf(stderr, "mapservice: %s; the pictures have no text\n", error->c_str());
    }
    std::string errors;
    const mapservice::ShoreFiles files = mapservice::loadShoreFiles(options->data, errors);
    if (!errors.empty()) {
        std::fprintf(stderr, "mapservice: shorelines missing:\n%s", errors.c_str());
    }
    const mapservice::ShoreData shores = mapservice::shoreData(files);

    mapservice::RemoteOptions remote;
    remote.cacheFolder = options->cache;
    remote.maxZoom = options->maxZoom;
    remote.cacheMaxMegabytes = options->cacheMaxMegabytes;
    remote.userAgent = std::string("mapservice/") + MAPSUITE_VERSION;
    if (!options->contact.empty()) {
        remote.userAgent += " (" + options->contact + ")";
    }
    mapservice::SourceTable sources(shores, remote);
    for (const std::string& attribution : options->attributions) {
        sources.addAttribution(attribution);
    }
    for (const std::string& source : options->sources) {
        if (const auto refused = sources.add(source)) {
            std::fprintf(stderr, "mapservice: %s\n", refused->reason.c_str());
            return 2;
        }
    }

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the server. Threads
    // made from here on inherit the blocked signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    mapservice::MapServer server(sources);
    const int port = server.bind(options->bind, options->port);
    if (port < 0) {
        std::fprintf(stderr, "mapservice: cannot listen on %s:%d (is another service using it?)\n",
                     options->bind.c_str(), options->port);
        return 1;
    }
    std::thread stopper([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    std::printf("mapservice: serving http://%s:%d/pub/agent.dll\n", options->bind.c_str(), port);
    std::fflush(stdout);
    server.run();
    // The server has stopped: wake the signal thread if the stop came from elsewhere. The
    // signal is blocked in every other thread, so the waiting thread takes it.
    kill(getpid(), SIGTERM);
    stopper.join();
    std::printf("mapservice: stopped\n");
    return 0;
}
