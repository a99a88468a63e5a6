#pragma once

// The fakes the remote-source tests share: a tile server on 127.0.0.1 whose tiles are flat
// colours, the service running in this process on a port of its own, and a bounded wait.
#include "loopbackserver.h"
#include "mapservice/http/answer.h"
#include "mapservice/http/server.h"
#include "mapservice/network/tilecache.h"
#include "mapservice/network/upstream.h"
#include "mapservice/protocol/tilegrid.h"
#include "mapservice/sources/sources.h"
#include "mapservice/sources/wmssource.h"
#include "serviceloop.h"
#include "tempworkdir.h"
#include "testshores.h"
#include "undersanitizer.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace testsupport {

using namespace mapservice;

// How many times longer things take under the sanitizers, for bounds that tell a wait from none.
constexpr double timeScale = underSanitizer ? 3 : 1;

inline std::string png(QColor colour, int side = 256)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// Tiles of even x are orange, of odd x teal; |status| and |body| replace them when set.
class TileServer {
public:
    TileServer()
    {
        http_.server().Get(R"(/(\d+)/(\d+)/(\d+)(@2x)?\.png)", [this](const httplib::Request& req,
                                                                      httplib::Response& res) {
            ++requests;
            // The most requests in flight at once.
            const int now = ++inFlight;
            int most = mostInFlight;
            while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
            }
            struct Leave {
                std::atomic<int>& n;
                ~Leave() { --n; }
            } leave{inFlight};
            const int z = std::stoi(req.matches[1]);
            const int x = std::stoi(req.matches[2]);
            const int y = std::stoi(req.matches[3]);
            zooms |= 1 << z;
            {
                const std::lock_guard lock(mutex_);
                asked_.emplace(z, x, y);
                hosts_.insert(req.get_header_value("Host"));
                apiKeys_.insert(req.get_header_value("X-Api-Key"));
                if (req.has_header("Cache-Control") || req.has_header("Pragma")) {
                    ++cacheHeaders;
                }
                times_.push_back(std::chrono::steady_clock::now());
            }
            if (delayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
            }
            for (int i = 0; i < 1000 && hang && !letGo; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (missing && missing(z, x, y)) {
                res.status = 404;
                return;
            }
            if (flood) { // a gigabyte, made as it is sent, with no length announced
                res.set_chunked_content_provider(
                    "image/png",
                    [sent = std::size_t{0}](std::size_t, httplib::DataSink& sink) mutable {
                        static const std::string chunk(1 << 20, 'x');
                        if (sent >= std::size_t{1} << 30) {
                            sink.done();
                            return true;
                        }
                        sent += chunk.size();
                        return sink.write(chunk.data(), chunk.size());
                    });
                return;
            }
            {
                const std::lock_guard lock(mutex_); // two connections at once
                userAgent_ = req.get_header_value("User-Agent");
            }
            if (status != 200) {
                res.status = status;
                res.set_content("<html>busy</html>", "text/html");
                return;
            }
            if (!body.empty()) {
                res.set_content(body, "text/html");
                return;
            }
            if (!etag.empty()) {
                res.set_header("ETag", etag);
                res.set_header("Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT");
                if (req.get_header_value("If-None-Match") == etag) {
                    ++notModified;
                    res.status = 304;
                    if (!cacheControl.empty()) {
                        res.set_header("Cache-Control", cacheControl);
                    }
                    return;
                }
            }
            if (!cacheControl.empty()) {
                res.set_header("Cache-Control", cacheControl);
            }
            if (side != 256) {
                res.set_content(png(x % 2 == 0 ? QColor(250, 150, 20) : QColor(20, 150, 150), side),
                                "image/png");
                return;
            }
            res.set_content(x % 2 == 0 ? orange : teal, "image/png");
        });
        http_.start();
    }
    std::string spec() const { return "xyz:" + http_.url() + "/{z}/{x}/{y}.png"; }

    std::string userAgent()
    {
        const std::lock_guard lock(mutex_);
        return userAgent_;
    }
    std::set<std::tuple<int, int, int>> asked()
    {
        const std::lock_guard lock(mutex_);
        return asked_;
    }
    std::set<std::string> hosts() // as the requests' Host headers named them
    {
        const std::lock_guard lock(mutex_);
        return hosts_;
    }
    int port() const { return http_.port(); }
    std::set<std::string> apiKeys() // the X-Api-Key headers seen ("" for none)
    {
        const std::lock_guard lock(mutex_);
        return apiKeys_;
    }
    std::vector<std::chrono::steady_clock::time_point> times() // when each request came
    {
        const std::lock_guard lock(mutex_);
        return times_;
    }

    std::atomic<int> requests{0};
    std::atomic<int> zooms{0}; // bit z set when a tile of zoom z was asked for
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0}; // the most requests served at once
    std::atomic<int> delayMs{0};
    std::atomic<int> status{200};
    std::atomic<bool> hang{false}; // hold every request until letGo (at most 10 s)
    std::atomic<bool> letGo{false};
    std::atomic<bool> flood{false};   // answer a gigabyte
    std::atomic<int> side{256};       // of the tiles
    std::atomic<int> notModified{0};  // 304s answered
    std::atomic<int> cacheHeaders{0}; // requests that came with Cache-Control or Pragma
    // These two are set only while no request is served.
    std::string body;
    std::function<bool(int z, int x, int y)> missing; // answered 404
    std::string etag;         // of every tile; If-None-Match with it is answered 304
    std::string cacheControl; // sent with every tile

private:
    std::mutex mutex_;
    std::string userAgent_;
    std::set<std::tuple<int, int, int>> asked_;
    std::set<std::string> hosts_;
    std::set<std::string> apiKeys_;
    std::vector<std::chrono::steady_clock::time_point> times_;
    const std::string orange = png(QColor(250, 150, 20));
    const std::string teal = png(QColor(20, 150, 150));
    testsupport::LoopbackServer http_; // last: stopped before the rest goes
};

// The service in this process, on a port of its own.
class RunningServer {
public:
    explicit RunningServer(const Source& source, const ServerLimits& limits = {},
                           MapServer::Log log = {})
        : server_(serviceLoop(), source, limits, std::move(log))
    {
        port_ = *server_.bind("127.0.0.1", 0);
        thread_ = std::thread([this] { server_.run(); });
    }
    ~RunningServer()
    {
        server_.stop();
        thread_.join();
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    // The status of the answer to a map request, and how long it took.
    std::pair<int, double> get(const std::string& query) const
    {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(10, 0);
        const auto start = std::chrono::steady_clock::now();
        const auto result = client.Get("/pub/agent.dll?" + query);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return {result ? result->status : 0, took.count()};
    }
    int port() const { return port_; }

private:
    MapServer server_;
    int port_ = 0;
    std::thread thread_;
};

// Waits until |condition| holds, for at most a minute: a bound for a hang, not a time the
// service must keep (a sanitizer build on busy cores draws a large picture for seconds).
inline void waitFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < 6000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testsupport
