#include "mapservice/http/headers.h"

#include <boost/beast/http/field.hpp>

namespace mapservice {

namespace http = boost::beast::http;

void headersOf(http::response<http::string_body>& response, const Answer& answer, unsigned version)
{
    response.version(version);
    response.result(static_cast<unsigned>(answer.status));
    response.set(http::field::server, "mapservice");
    if (!answer.contentType.empty()) {
        response.set(http::field::content_type, answer.contentType);
    }
    if (!answer.credit.empty()) {
        response.set("Map-Credit", answer.credit);
    }
    if (!answer.source.empty()) {
        response.set("Map-Source", answer.source);
    }
    if (!answer.etag.empty()) {
        response.set(http::field::etag, answer.etag);
        response.set(http::field::cache_control,
                     "public, max-age=" + std::to_string(answer.maxAge));
        if (answer.lastModified) {
            response.set(http::field::last_modified, httpDate(*answer.lastModified));
        }
    }
    if (answer.anyOrigin) {
        response.set(http::field::access_control_allow_origin, "*");
    }
    if (answer.varyHost) {
        response.set(http::field::vary, "Host");
    }
    if (answer.etag.empty() && answer.maxAge >= 0) { // a document: kept a while
        response.set(http::field::cache_control,
                     "public, max-age=" + std::to_string(answer.maxAge));
    }
    if (answer.status == 503) {
        response.set(http::field::retry_after, "1");
    } else if (answer.status == 405) {
        response.set(http::field::allow, "GET, HEAD");
    }
}

} // namespace mapservice
