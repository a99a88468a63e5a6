#pragma once

#include "source.h"

#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace mapservice {

// The answer to one request: HTTP status, content type and body.
struct Answer {
    int status = 200;
    std::string contentType = "image/gif";
    std::string body;
};

// Answers "GET /pub/agent.dll?<query>": a GIF picture from |source|, or the status and one-line
// reason of a refusal. Every failure of the steps, thrown or returned, ends here as an answer.
Answer answerMapRequest(const std::string& query, const Source& source);

// The HTTP side of the service: map pictures at /pub/agent.dll, 404 elsewhere, 405 for methods
// other than GET and HEAD. At most one picture per core is drawn at once, whatever the number
// of connections, so memory stays bounded.
class MapServer {
public:
    explicit MapServer(const Source& source);
    ~MapServer();
    MapServer(const MapServer&) = delete;
    MapServer& operator=(const MapServer&) = delete;

    // Binds to |address| and |port| (0: one the system chooses); the port, or -1 when it
    // cannot be had.
    int bind(const std::string& address, int port);
    // Serves until stop() is called, from any thread.
    void run();
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace mapservice
