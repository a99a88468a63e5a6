#pragma once

#include "mapservice/http/answer.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

namespace mapservice {

// The status line and header fields of |answer| in HTTP/|version| (10 or 11): its type, credit,
// source, caching fields, CORS and Vary, and what a 503 or 405 carries.
void headersOf(boost::beast::http::response<boost::beast::http::string_body>& response,
               const Answer& answer, unsigned version);

} // namespace mapservice
