// The local map service: answers the map requests of the downloader with GIF pictures, drawn
// from the shoreline data on this machine or cut from the map sources it is given.
#include "mapservice/draw/font.h"
#include "mapservice/http/logwriter.h"
#include "mapservice/http/options.h"
#include "mapservice/http/server.h"
#include "mapservice/sources/sources.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// The folder an XDG variable names, else |fallback| under the home folder. Read once at start,
// before any other thread runs.
std::string xdgFolder(const char* variable, const char* fallback)
{
    if (const char* xdg = std::getenv(variable); // NOLINT(concurrency-mt-unsafe)
        xdg != nullptr && *xdg != '\0') {
        return xdg;
    }
    const char* home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe)
    return std::string(home != nullptr ? home : ".") + "/" + fallback;
}

// The arguments of the options file that applies, then those of the command line, so that
// the command line wins; or why the file cannot be used.
common::Result<std::vector<std::string>> allArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    const std::string file = mapservice::optionsFilePath(xdgFolder("XDG_CONFIG_HOME", ".config"));
    if (!file.empty()) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        auto read = mapservice::readOptionsFile(text.str());
        if (!read) {
            common::Error error = read.error();
            error.text = "options file " + file + ": " + error.text;
            return error;
        }
        arguments = std::move(read).value();
    }
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    return arguments;
}

// Raises the open-file limit as far as the system lets a user, and keeps the service's
// connections within it, with room for the files a drawing opens.
void fitConnectionsToFileLimit(mapservice::ServerLimits& limits)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) {
        return;
    }
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    constexpr rlim_t reserve = 128;
    const rlim_t room = files.rlim_cur > 2 * reserve ? files.rlim_cur - reserve : reserve;
    limits.maxConnections =
        static_cast<int>(std::min<rlim_t>(room, static_cast<rlim_t>(limits.maxConnections)));
}

int serve(int argc, char** argv)
{
    mapservice::Options defaults;
    defaults.data = MAPSERVICE_DATA_DIR;
    defaults.cache = xdgFolder("XDG_CACHE_HOME", ".cache") + "/mapservice";
    const auto refuse = [](const common::Error& error) {
        std::fprintf(stderr, "mapservice: %s\n%s", error.text.c_str(),
                     mapservice::usageText(MAPSERVICE_DATA_DIR).c_str());
        return 2;
    };
    const auto arguments = allArguments(argc, argv);
    if (!arguments) {
        return refuse(arguments.error());
    }
    const auto parsed = mapservice::parseOptions(*arguments, defaults);
    if (!parsed) {
        return refuse(parsed.error());
    }
    const mapservice::Options* options = &*parsed;
    if (options->version) {
        std::printf("mapservice %s\n", MAPSUITE_VERSION);
        return 0;
    }
    if (options->help) {
        std::fputs(mapservice::usageText(MAPSERVICE_DATA_DIR).c_str(), stdout);
        return 0;
    }
    if (const auto font = mapservice::fontStatus(); !font) {
        std::fprintf(stderr, "mapservice: %s; the pictures have no text\n",
                     font.error().text.c_str());
    }
    const mapservice::ShoreFiles files = mapservice::loadShoreFiles(options->data);
    if (!files.errors.empty()) {
        std::fprintf(stderr, "mapservice: shorelines missing:\n%s", files.errors.c_str());
    }
    const mapservice::ShoreData shores = mapservice::shoreData(files);

    // The one loop of the service: its clients and its upstream servers alike. It outlives the
    // sources and the server, which are made on it.
    boost::asio::io_context loop(1);
    mapservice::RemoteOptions remote;
    remote.loop = &loop;
    remote.cacheFolder = options->cache;
    remote.cacheMaxMegabytes = options->cacheMaxMegabytes;
    if (remote.cacheMaxMegabytes < 64) {
        std::fprintf(stderr,
                     "mapservice: --cache-max-mb %d is below 64: the cache goes over it while the "
                     "pictures whose tiles it holds are drawn\n",
                     remote.cacheMaxMegabytes);
    }
    remote.timeoutSeconds = options->upstreamTimeout;
    remote.maxTileMegabytes = options->maxTileMegabytes;
    remote.userAgent = std::string("mapservice/") + MAPSUITE_VERSION;
    if (!options->contact.empty()) {
        remote.userAgent += " (" + options->contact + ")";
    }
    mapservice::SourceTable sources(shores, remote);
    if (const auto made = sources.use(options->sources); !made) {
        std::fprintf(stderr, "mapservice: %s\n", made.error().text.c_str());
        return made.error().status;
    }
    // Standard error may be a pipe whose reader has gone: a write then fails, it does not end
    // the service.
    std::signal(SIGPIPE, SIG_IGN);

    mapservice::ServerLimits limits = options->limits;
    fitConnectionsToFileLimit(limits);
    mapservice::MapServer::Log log;
    std::optional<mapservice::LogWriter> logWriter;
    if (options->log) {
        logWriter.emplace(STDERR_FILENO);
        log = [&logWriter](const mapservice::AccessRecord& record) {
            logWriter->add(mapservice::accessLogLine(record));
        };
    }
    mapservice::MapServer server(loop, sources, limits, log);
    const auto port = server.bind(options->bind, options->port);
    if (!port) {
        std::fprintf(stderr, "mapservice: %s\n", port.error().text.c_str());
        return port.error().status;
    }
    server.setPublicUrl(options->publicUrl);
    server.stopOnSignals();
    std::printf("mapservice: serving http://%s:%d/pub/agent.dll\n", options->bind.c_str(), *port);
    std::fflush(stdout);
    server.run();
    std::printf("mapservice: stopped\n");
    // What waited for upstream servers is dropped as the sources go, after the server; the log
    // is written out as its writer goes.
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return serve(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mapservice: %s\n", e.what());
        return 1;
    }
}
