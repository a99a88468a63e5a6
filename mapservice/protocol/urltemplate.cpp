#include "mapservice/protocol/urltemplate.h"

#include "common/redirect.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace mapservice {

std::optional<std::string> expandTemplate(std::string_view text, const Filling& filling,
                                          std::size_t most)
{
    std::string out;
    out.reserve(std::min(text.size(), most));
    std::string name;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        const std::size_t close =
            open == std::string_view::npos ? open : text.find_first_of("{}", open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(at));
            at = text.size();
        } else if (text[close] == '{') { // "{{..." : the first brace is text
            out.append(text.substr(at, close - at));
            at = close;
        } else {
            name.assign(text.substr(open + 1, close - open - 1));
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            out.append(text.substr(at, open - at));
            const auto found = std::find_if(filling.begin(), filling.end(),
                                            [&name](const auto& f) { return f.first == name; });
            if (found != filling.end()) {
                out.append(found->second);
            } else {
                out.append(text.substr(open, close - open + 1));
            }
            at = close + 1;
        }
        if (out.size() > most) {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::string> tileAddressProblem(const std::string& url,
                                              const std::string& descriptionUrl,
                                              const std::string& hosts)
{
    if (common::hasUserInfo(url)) {
        return std::string("the description gives tile addresses with a user name or password, "
                           "which the service does not send");
    }
    if (common::sameOrigin(descriptionUrl, url)) {
        return std::nullopt;
    }
    const std::string authority = common::authorityOf(url);
    const std::string host = authority.substr(0, authority.rfind(':'));
    for (std::size_t start = 0; start <= hosts.size();) {
        const std::size_t end = std::min(hosts.find(',', start), hosts.size());
        std::string listed = hosts.substr(start, end - start);
        start = end + 1;
        while (!listed.empty() && listed.back() == ' ') {
            listed.pop_back();
        }
        listed.erase(0, listed.find_first_not_of(' '));
        if (!listed.empty() && (strcasecmp(listed.c_str(), authority.c_str()) == 0 ||
                                strcasecmp(listed.c_str(), host.c_str()) == 0)) {
            return std::nullopt;
        }
    }
    return "the description sends its tiles to " + authority +
           ", which is not its own host: add #hosts=" + authority +
           " to the source if that host is to be asked (with the --header lines)";
}

} // namespace mapservice
