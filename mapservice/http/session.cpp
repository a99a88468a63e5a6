#include "mapservice/http/session.h"

#include "mapservice/http/answer.h"
#include "mapservice/http/headers.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

namespace mapservice {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

// The most a request's header, and apart from it its body, may hold.
constexpr std::size_t requestLimit = std::size_t{64} * 1024;
// How long a connection closed by the service may still deliver what the client sent, so that
// closing it does not reset the answer written just before.
constexpr std::chrono::seconds lingerTime{2};

// One client connection: waits for a request, reads it within the header deadline, answers it,
// and waits for the next while the client keeps it alive.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(ServerState& state, tcp::socket socket, std::string client)
        : state_(state), stream_(std::move(socket)), client_(std::move(client))
    {}
    ~Session()
    {
        const std::lock_guard lock(state_.countsMutex);
        if (--state_.perClient[client_] == 0) {
            state_.perClient.erase(client_);
        }
        state_.closers.erase(number_);
        if (--state_.connections == 0 && state_.stopping) {
            // The last connection of a stopping service has ended: so does its loop.
            asio::post(state_.io, [&io = state_.io] { io.stop(); });
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void start()
    {
        {
            const std::lock_guard lock(state_.countsMutex);
            number_ = ++state_.sessions;
            state_.closers[number_] = [weak = weak_from_this()] {
                if (const auto self = weak.lock()) {
                    self->close();
                }
            };
        }
        waitForRequest();
    }

private:
    // Waits up to the idle time for the first byte of the next request.
    void waitForRequest()
    {
        if (buffer_.size() > 0) { // the client sent it with the previous one
            readRequest();
            return;
        }
        stream_.expires_after(state_.limits.idleTimeout);
        readSome(&Session::onFirstBytes);
    }

    void onFirstBytes(beast::error_code ec, std::size_t n)
    {
        if (ec) {
            close();
            return;
        }
        buffer_.commit(n);
        readRequest();
    }

    // Reads what the client sends next into the buffer, then calls |then|. Every read of the
    // stream goes through here: one completion handler type, so that asio's and Beast's
    // operation templates are compiled once for all of them.
    void readSome(void (Session::*then)(beast::error_code, std::size_t))
    {
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this(),
                                                        then](beast::error_code ec, std::size_t n) {
            ((*self).*then)(ec, n);
        });
    }

    void readRequest()
    {
        firstByte_ = SteadyClock::now();
        firstByteTime_ = std::chrono::system_clock::now();
        method_ = "-";
        target_ = "-";
        head_ = false;
        ifNoneMatch_.clear();
        keepAlive_ = false;
        version_ = 11;
        parser_.emplace();
        parser_->header_limit(requestLimit);
        parser_->body_limit(requestLimit);
        stream_.expires_after(state_.limits.headerTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->onRequest(ec);
                         });
    }

    void onRequest(beast::error_code ec)
    {
        if (ec) {
            const bool malformed =
                ec.category() == http::make_error_code(http::error{}).category() &&
                ec != http::error::end_of_stream && ec != http::error::partial_message;
            if (!malformed) { // gone, or too slow: nothing to answer
                close();
                return;
            }
            const int status = ec == http::error::header_limit ? 431
                               : ec == http::error::body_limit ? 413
                                                               : 400;
            respond({status, "text/plain", "bad request: " + ec.message() + "\n", {}}, true);
            return;
        }
        const auto& request = parser_->get();
        method_ = std::string(request.method_string());
        target_ = std::string(request.target());
        version_ = request.version();
        keepAlive_ = request.keep_alive();
        head_ = request.method() == http::verb::head;
        ifNoneMatch_ = std::string(request[http::field::if_none_match]);
        if (const auto coding = request.find(http::field::transfer_encoding);
            coding != request.end() &&
            !lastCodingIsChunked({coding->value().data(), coding->value().size()})) {
            // Where such a body ends cannot be told: what follows is not read as a request.
            respond({400, "text/plain", "bad request: a body framed other than chunked\n", {}},
                    true);
            return;
        }
        if (request.method() != http::verb::get && !head_) {
            respond({405, "text/plain", "only GET and HEAD are served\n", {}});
            return;
        }
        const std::string path(originForm(target_));
        const auto question = std::min(path.find('?'), path.size());
        const auto host = request[http::field::host];
        auto routed = route(state_.source, state_.site, std::string_view(path).substr(0, question),
                            std::string_view(path).substr(std::min(question + 1, path.size())),
                            {host.data(), host.size()});
        if (auto* answer = std::get_if<Answer>(&routed)) {
            respond(std::move(*answer));
        } else {
            startDrawing(std::get<DrawingJob>(std::move(routed)));
        }
    }

    // Gathers what the job's picture needs, then draws it on a drawing thread.
    void startDrawing(DrawingJob job)
    {
        // Each remote source bounds the pictures waiting on it; the others wait for nothing.
        stream_.expires_never();
        const Wanted wanted;
        watching_ = true;
        abandoned_ = wanted.abandoned;
        watchClient();
        // The answer may come on any thread, or never if the server goes first; it holds the
        // connection only through the watch above, so a client that hangs up ends it.
        // What was gathered comes on the loop, or at once for a source that needs nothing: the
        // session hears of it from the loop either way.
        const MapRequest request = job.request;
        const auto gatherOwn = job.gather;
        Gathering done = [&io = state_.io, weak = weak_from_this(),
                          job = std::move(job)](common::Result<GatheredPtr> gathered) mutable {
            asio::post(io, [weak, job = std::move(job), gathered = std::move(gathered)]() mutable {
                if (const auto self = weak.lock()) {
                    self->draw(std::move(job), std::move(gathered));
                }
            });
        };
        if (gatherOwn) {
            gatherOwn(state_.source, wanted, std::move(done));
        } else {
            state_.source.gather(request, wanted, std::move(done));
        }
    }

    // Reads while a picture is gathered: a client that hangs up abandons it, and what a client
    // sends meanwhile (its next request) is kept for later.
    void watchClient() { readSome(&Session::onWatched); }

    void onWatched(beast::error_code ec, std::size_t n)
    {
        if (!ec) {
            buffer_.commit(n);
        }
        if (!watching_) {
            return;
        }
        if (ec || buffer_.size() > requestLimit) {
            abandoned_->set();
            watching_ = false;
            close();
            return;
        }
        watchClient();
    }

    void draw(DrawingJob job, common::Result<GatheredPtr> gathered)
    {
        watching_ = false;
        beast::error_code ignored;
        stream_.socket().cancel(ignored); // the watch
        if (!gathered) {
            respond(refusal(gathered.error()));
            return;
        }
        if (state_.admitted >= state_.slots + state_.limits.queue) {
            respond({503, "text/plain", "busy: too many pictures asked for at once\n", {}});
            return;
        }
        ++state_.admitted;
        asio::post(state_.pool, [self = shared_from_this(), job = std::move(job),
                                 gathered = std::move(gathered).value(), ifNoneMatch = ifNoneMatch_,
                                 abandoned = abandoned_]() mutable {
            // What the client has already is not drawn again. Off the connections' thread: a
            // remote source's freshness reads its tiles' records.
            const MapRequest& request = job.request;
            Freshness fresh = self->state_.source.freshness(request, gathered.get());
            if (!job.variant.empty()) {
                fresh.identity += "\n" + job.variant;
            }
            Answer answer(304, {});
            cachedBy(answer, request, fresh);
            if (ifNoneMatch.empty() || !noneMatchHolds(ifNoneMatch, answer.etag)) {
                answer = self->state_.draw(job, gathered.get(), abandoned);
                if (answer.status == 200) {
                    cachedBy(answer, request, fresh);
                }
            }
            if (answer.status == 200 || answer.status == 304) {
                answer.source = self->state_.source.sourceIdentity(request);
                answer.anyOrigin = answer.anyOrigin || !job.variant.empty();
            }
            auto executor = self->stream_.get_executor();
            // The connection goes back to its own thread; only there it is touched.
            asio::post(executor, [self = std::move(self), answer = std::move(answer)]() mutable {
                --self->state_.admitted;
                self->respond(std::move(answer));
            });
        });
    }

    void respond(Answer answer, bool thenClose = false)
    {
        auto response = std::make_shared<http::response<http::string_body>>();
        headersOf(*response, answer, version_);
        response->keep_alive(keepAlive_ && !thenClose);
        if (head_ || answer.status == 304) {
            // The header a GET would have had, the length of its body included, and no body.
            if (answer.status != 304) { // a 304 has no body to give the length of
                response->content_length(answer.body.size());
            }
            write(std::move(response), 0);
            return;
        }
        const std::size_t bodyBytes = answer.body.size();
        response->body() = std::move(answer.body);
        response->prepare_payload();
        write(std::move(response), bodyBytes);
    }

    // Writes |response|, whose body holds |bodyBytes| of the answer's (none for a header alone).
    void write(std::shared_ptr<http::response<http::string_body>> response, std::size_t bodyBytes)
    {
        stream_.expires_after(state_.limits.writeTimeout);
        auto& message = *response; // the handler holds it until the write ends
        http::async_write(stream_, message,
                          [self = shared_from_this(), response = std::move(response),
                           bodyBytes](beast::error_code ec, std::size_t sent) {
                              // A client cut off at its deadline got only part of the body.
                              std::size_t bodySent = bodyBytes;
                              if (ec) {
                                  std::ostringstream head;
                                  head << response->base();
                                  const std::size_t headBytes = head.str().size();
                                  bodySent =
                                      std::min(bodyBytes, sent > headBytes ? sent - headBytes : 0);
                              }
                              self->logAnswer(static_cast<int>(response->result_int()), bodySent);
                              if (ec) {
                                  self->close();
                              } else if (!response->keep_alive()) {
                                  self->finish();
                              } else {
                                  self->waitForRequest();
                              }
                          });
    }

    void logAnswer(int status, std::size_t bodyBytes)
    {
        if (!state_.log) {
            return;
        }
        const std::chrono::duration<double, std::milli> took = SteadyClock::now() - firstByte_;
        state_.log({firstByteTime_, client_, method_, target_, status, bodyBytes, took.count()});
    }

    // Ends the connection after an answer: the client may still be sending, and closing with
    // its bytes unread would reset the connection and could lose the answer.
    void finish()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(lingerTime);
        drain();
    }

    void drain()
    {
        buffer_.clear();
        readSome(&Session::onDrained);
    }

    void onDrained(beast::error_code ec, std::size_t /*n*/)
    {
        if (ec) {
            close();
        } else {
            drain();
        }
    }

    void close()
    {
        if (abandoned_) { // the picture being gathered or drawn, if any, stops
            abandoned_->set();
        }
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    ServerState& state_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    const std::string client_;
    std::uint64_t number_ = 0;

    // Of the request being answered.
    SteadyClock::time_point firstByte_;
    std::chrono::system_clock::time_point firstByteTime_;
    std::string method_;
    std::string target_;
    unsigned version_ = 11;
    bool keepAlive_ = false;
    bool head_ = false;
    std::string ifNoneMatch_; // the request's If-None-Match, as sent
    bool watching_ = false;   // the client is watched while its picture is gathered
    // Of the picture being answered: set when a watched client hangs up or the connection is
    // closed (the service stops).
    std::shared_ptr<Abandonment> abandoned_;
};

} // namespace

int slotsFor(const ServerLimits& limits)
{
    return limits.drawingSlots > 0
               ? limits.drawingSlots
               : static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

void startSession(ServerState& state, tcp::socket socket, std::string client)
{
    std::make_shared<Session>(state, std::move(socket), std::move(client))->start();
}

} // namespace mapservice
