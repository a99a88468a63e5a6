#include "server.h"

#include "gifencode.h"

#include <algorithm>
#include <exception>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <semaphore>
#include <sys/socket.h>
#include <thread>

namespace mapservice {

namespace {

Answer refusal(const Refusal& r)
{
    return {r.status, "text/plain", r.reason + "\n"};
}

void reply(httplib::Response& res, const Answer& answer)
{
    res.status = answer.status;
    res.set_content(answer.body, answer.contentType.c_str());
}

} // namespace

Answer answerMapRequest(const std::string& query, const Source& source)
{
    try {
        const auto request = parseMapRequest(parseQuery(query));
        if (const auto* refused = std::get_if<Refusal>(&request)) {
            return refusal(*refused);
        }
        const auto picture = source.draw(std::get<MapRequest>(request));
        if (const auto* refused = std::get_if<Refusal>(&picture)) {
            return refusal(*refused);
        }
        return {200, "image/gif", encodeGif(std::get<Picture>(picture))};
    } catch (const std::exception& e) {
        return refusal({500, std::string("cannot draw the map: ") + e.what()});
    }
}

struct MapServer::Private {
    explicit Private(const Source& s)
        : source(s), drawing(std::max(2u, std::thread::hardware_concurrency()))
    {}
    const Source& source;
    httplib::Server server;
    std::counting_semaphore<> drawing; // a picture of 4000 x 4000 takes 16 MB while drawn
};

MapServer::MapServer(const Source& source) : d_(std::make_unique<Private>(source))
{
    httplib::Server& server = d_->server;
    // Each kept-alive connection holds a thread while it waits for its next request.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_keep_alive_max_count(100000);
    server.set_payload_max_length(std::size_t{64} * 1024);
    // SO_REUSEADDR lets a restart bind while old connections linger; no SO_REUSEPORT, so a
    // second service on the same port fails instead of sharing it. TCP_NODELAY, inherited by
    // accepted connections, keeps small header writes from waiting for the peer's ACK.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    server.Get(
        "/pub/agent.dll", [d = d_.get()](const httplib::Request& req, httplib::Response& res) {
            const auto question = req.target.find('?');
            const std::string query =
                question == std::string::npos ? std::string() : req.target.substr(question + 1);
            d->drawing.acquire();
            struct Release {
                std::counting_semaphore<>& s;
                ~Release() { s.release(); }
            } release{d->drawing};
            reply(res, answerMapRequest(query, d->source));
        });
    const auto notAllowed = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "GET, HEAD");
        reply(res, {405, "text/plain", "only GET and HEAD are served\n"});
    };
    server.Post(".*", notAllowed);
    server.Put(".*", notAllowed);
    server.Patch(".*", notAllowed);
    server.Delete(".*", notAllowed);
    server.Options(".*", notAllowed);
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 404) {
            res.set_content("not found: maps are served at /pub/agent.dll\n", "text/plain");
        }
    });
}

MapServer::~MapServer() = default;

int MapServer::bind(const std::string& address, int port)
{
    if (port == 0) {
        return d_->server.bind_to_any_port(address);
    }
    return d_->server.bind_to_port(address, port) ? port : -1;
}

void MapServer::run()
{
    d_->server.listen_after_bind();
}

void MapServer::stop()
{
    d_->server.stop();
}

} // namespace mapservice
