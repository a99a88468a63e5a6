// The local map service: answers the map requests of the downloader with GIF pictures, drawn
// from the shoreline data on this machine or cut from the map sources it is given.
#include "mapservice/font.h"
#include "mapservice/options.h"
#include "mapservice/server.h"
#include "mapservice/sources.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <variant>
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
std::variant<std::vector<std::string>, mapservice::OptionsError> allArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    const std::string file = mapservice::optionsFilePath(xdgFolder("XDG_CONFIG_HOME", ".config"));
    if (!file.empty()) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        auto read = mapservice::readOptionsFile(text.str());
        if (auto* error = std::get_if<mapservice::OptionsError>(&read)) {
            error->message = "options file " + file + ": " + error->message;
            return *error;
        }
        arguments = std::get<std::vector<std::string>>(std::move(read));
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
    const auto refuse = [](const mapservice::OptionsError& error) {
        std::fprintf(stderr, "mapservice: %s\n%s", error.message.c_str(),
                     mapservice::usageText(MAPSERVICE_DATA_DIR).c_str());
        return 2;
    };
    const auto arguments = allArguments(argc, argv);
    if (const auto* error = std::get_if<mapservice::OptionsError>(&arguments)) {
        return refuse(*error);
    }
    const auto parsed =
        mapservice::parseOptions(std::get<std::vector<std::string>>(arguments), defaults);
    if (const auto* error = std::get_if<mapservice::OptionsError>(&parsed)) {
        return refuse(*error);
    }
    const auto options = &std::get<mapservice::Options>(parsed);
    if (options->version) {
        std::printf("mapservice %s\n", MAPSUITE_VERSION);
        return 0;
    }
    if (options->help) {
        std::fputs(mapservice::usageText(MAPSERVICE_DATA_DIR).c_str(), stdout);
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

    mapservice::ServerLimits limits = options->limits;
    fitConnectionsToFileLimit(limits);
    mapservice::MapServer::Log log;
    if (options->log) {
        log = [](const mapservice::AccessRecord& record) {
            const std::string line = mapservice::accessLogLine(record) + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        };
    }
    mapservice::MapServer server(sources, limits, log);
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
    const bool drawingsEnded = server.run();
    // The server has stopped: wake the signal thread if the stop came from elsewhere. The
    // signal is blocked in every other thread, so the waiting thread takes it.
    kill(getpid(), SIGTERM);
    stopper.join();
    std::printf("mapservice: stopped\n");
    if (!drawingsEnded) {
        // A picture is still being drawn; nothing of it is kept, so the process ends now
        // rather than when it is done.
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(0);
    }
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
