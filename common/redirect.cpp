#include "common/redirect.h"

#include <curl/curl.h>
#include <strings.h>

namespace common {

namespace {

// The parts of |url| (resolved against |base| when it is relative) that libcurl reads.
class ParsedUrl {
public:
    explicit ParsedUrl(const std::string& url, const std::string& base = {})
    {
        ok_ = (base.empty() || curl_url_set(url_, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK) &&
              curl_url_set(url_, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    }
    ~ParsedUrl() { curl_url_cleanup(url_); }
    ParsedUrl(const ParsedUrl&) = delete;
    ParsedUrl& operator=(const ParsedUrl&) = delete;

    // The part, or empty when there is none.
    std::string part(CURLUPart which, unsigned flags = 0) const
    {
        char* text = nullptr;
        std::string out;
        if (ok_ && curl_url_get(url_, which, &text, flags) == CURLUE_OK) {
            out = text;
        }
        curl_free(text);
        return out;
    }

private:
    CURLU* url_ = curl_url();
    bool ok_ = false;
};

} // namespace

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string authorityOf(const std::string& url)
{
    const ParsedUrl parsed(url);
    const std::string host = parsed.part(CURLUPART_HOST);
    const std::string port = parsed.part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return host.empty() || port.empty() ? unreadableAddress : host + ":" + port;
}

std::optional<std::string> redirectElsewhere(const std::string& from, const std::string& to)
{
    const ParsedUrl origin(from);
    const ParsedUrl target(to, from);
    const std::string host = target.part(CURLUPART_HOST);
    const std::string scheme = target.part(CURLUPART_SCHEME);
    const bool sameHost =
        !host.empty() && strcasecmp(host.c_str(), origin.part(CURLUPART_HOST).c_str()) == 0;
    const bool schemeKept =
        scheme == "https" || (scheme == "http" && origin.part(CURLUPART_SCHEME) == "http");
    const bool noUser =
        target.part(CURLUPART_USER).empty() && target.part(CURLUPART_PASSWORD).empty();
    if (sameHost && schemeKept && noUser) {
        return std::nullopt;
    }
    return host.empty() ? std::string(unreadableAddress) : scheme + "://" + host;
}

bool sameOrigin(const std::string& from, const std::string& to)
{
    const ParsedUrl a(from);
    const ParsedUrl b(to, from);
    const std::string host = b.part(CURLUPART_HOST);
    if (host.empty() || strcasecmp(host.c_str(), a.part(CURLUPART_HOST).c_str()) != 0) {
        return false;
    }
    const std::string schemeA = a.part(CURLUPART_SCHEME);
    const std::string schemeB = b.part(CURLUPART_SCHEME);
    const std::string portA = a.part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    const std::string portB = b.part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (schemeA == schemeB) {
        return portA == portB;
    }
    return schemeA == "http" && schemeB == "https" && portA == "80" && portB == "443";
}

bool hasUserInfo(const std::string& url)
{
    const ParsedUrl parsed(url);
    return !parsed.part(CURLUPART_USER).empty() || !parsed.part(CURLUPART_PASSWORD).empty();
}

} // namespace common
