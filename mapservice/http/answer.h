#pragma once

#include "mapservice/protocol/request.h"
#include "mapservice/sources/source.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

// The answer to one request: HTTP status, content type and body, and the picture's credit for
// the Map-Credit header (one clean line; empty: no header).
struct Answer {
    Answer(int status = 200, std::string contentType = "image/gif", std::string body = {},
           std::string credit = {})
        : status(status), contentType(std::move(contentType)), body(std::move(body)),
          credit(std::move(credit))
    {}
    int status = 200;
    std::string contentType = "image/gif";
    std::string body;
    std::string credit;
    // How a cache may keep a picture (see cachedBy): its ETag, Cache-Control's max-age and
    // Last-Modified; none for a refusal.
    std::string etag;
    std::int64_t maxAge = -1;
    std::optional<std::time_t> lastModified;
    std::string drawnFrom;  // the picture's, see Picture::drawnFrom
    std::string source;     // for the Map-Source header (see Source::sourceIdentity); empty: none
    bool anyOrigin = false; // Access-Control-Allow-Origin: *, for tiles and documents
    bool varyHost = false;  // its addresses come from the Host header
};

// The strong ETag of the picture of |request| (its fields as read, so that two ways of writing
// the same request share it) whose content |fresh| identifies, in this version of the service.
std::string entityTag(const MapRequest& request, const Freshness& fresh);

// |answer| with its caching fields set from |fresh|, where the answer's picture says what it was
// drawn from, from that.
void cachedBy(Answer& answer, const MapRequest& request, const Freshness& fresh);

// Whether an If-None-Match header's value holds |etag| (compared weakly, as the header is).
bool noneMatchHolds(std::string_view ifNoneMatch, const std::string& etag);

// |time| as an HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string httpDate(std::time_t time);

// The map request in the query of "GET /pub/agent.dll?<query>", or why it is refused (with
// its HTTP status). Cheap: it only reads the text.
common::Result<MapRequest> readMapRequest(const std::string& query);

// The answer that tells a client why it is refused: the status and the reason on one line.
Answer refusal(const common::Error& error);

// |text| as one line of plain text for a client, under 200 characters: whatever follows the
// first "<" (markup that an upstream server sent) dropped, control characters and runs of
// blanks made one blank, cut at a character's boundary.
std::string oneLineReason(std::string_view text);

// A GIF picture of |request| from |source|, drawn from what the source gathered for it, or the
// status and one-line reason of a refusal. Every failure, thrown or returned, ends here as an
// answer. Drawing stops between its steps once |halt| says so.
Answer drawAnswer(const MapRequest& request, const Source& source, const Gathered* gathered,
                  const Halt& halt = {});

} // namespace mapservice
