#pragma once

#include "render.h"

#include <string>

namespace mapservice {

// The answer to one request: HTTP status, content type and body.
struct Answer {
    int status = 200;
    std::string contentType = "image/gif";
    std::string body;
};

// Answers "GET /pub/agent.dll?<query>": a GIF map picture, or 400 with a one-line reason.
Answer answerMapRequest(const std::string& query, const ShoreData& shores);

} // namespace mapservice
