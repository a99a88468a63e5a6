// The local map service: answers the map requests of the downloader with GIF pictures drawn
// from the shoreline data on this machine.
#include "server.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <pthread.h>
#include <semaphore>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Options {
    bool help = false;
    std::string bind = "127.0.0.1";
    int port = 8047;
    std::string data = MAPSERVICE_DATA_DIR;
};

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: mapservice [--bind ADDRESS] [--port PORT] [--data FOLDER]\n"
                 "Serves map pictures at http://ADDRESS:PORT/pub/agent.dll\n"
                 "  --bind ADDRESS  address to listen on (default 127.0.0.1)\n"
                 "  --port PORT     port to listen on (default 8047; 0 picks a free one)\n"
                 "  --data FOLDER   binned shoreline files (default %s)\n"
                 "  --help          this text\n",
                 MAPSERVICE_DATA_DIR);
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--bind" && hasValue) {
            options.bind = argv[++i];
        } else if (arg == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                std::fprintf(stderr, "mapservice: bad port %s\n", argv[i]);
                return std::nullopt;
            }
            options.port = static_cast<int>(port);
        } else if (arg == "--data" && hasValue) {
            options.data = argv[++i];
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
    std::string errors;
    const mapservice::ShoreFiles files = mapservice::loadShoreFiles(options->data, errors);
    if (!errors.empty()) {
        std::fprintf(stderr, "mapservice: shorelines missing:\n%s", errors.c_str());
    }
    const mapservice::ShoreData shores = mapservice::shoreData(files);

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const mapservice::DrawnSource drawn(shores);
    mapservice::MapServer server(drawn);
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
