#pragma once

#include "loopbackserver.h"

#include <QString>

#include <httplib.h>

#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <thread>

namespace bench {

// A whole GIF of about |bytes| bytes that declares 1999 x 1999 pixels, as the downloader asks
// for: a frame of that size whose data are a few codes, and a comment of scattered bytes in
// blocks of 255, as a picture's compressed data comes. Its blocks are whole; it is never
// decoded.
inline std::string benchGif(std::size_t bytes)
{
    static const char pixel[] = "GIF89a\xCF\x07\xCF\x07\x80\0\0\xFF\xFF\xFF\0\0\0"
                                "\x21\xF9\x04\x01\0\0\0\0"
                                "\x2C\0\0\0\0\xCF\x07\xCF\x07\0\x02\x02\x44\x01\0";
    std::string gif(pixel, sizeof pixel - 1);
    gif += "\x21\xFE";
    for (std::size_t i = 0; gif.size() + 258 < bytes; ++i) {
        gif += '\xFF';
        for (int j = 0; j < 255; ++j) {
            gif += static_cast<char>(((i * 255 + j) * 2654435761u) >> 13);
        }
    }
    gif += '\0';
    gif += '\x3B';
    return gif;
}

// A map service for benchmarks on 127.0.0.1: every request gets the same GIF of about |bytes|
// bytes after |delayMs| milliseconds, with up to |threads| requests served at once.
class TileServer {
public:
    TileServer(std::size_t bytes, int delayMs, std::size_t threads = 8) : body_(benchGif(bytes))
    {
        httplib::Server& server_ = http_.server();
        server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server_.set_keep_alive_max_count(100000);
        server_.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        });
        server_.Get("/pub/agent.dll",
                    [this, delayMs](const httplib::Request&, httplib::Response& res) {
                        if (delayMs > 0) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                        }
                        res.set_content(body_, "image/gif");
                    });
        http_.start();
    }
    TileServer(const TileServer&) = delete;
    TileServer& operator=(const TileServer&) = delete;

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(http_.port()); }

private:
    std::string body_;
    testsupport::LoopbackServer http_; // last: stopped before the body goes
};

} // namespace bench
