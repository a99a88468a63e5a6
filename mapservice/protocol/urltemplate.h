#pragma once

// Addresses that a description from upstream writes for its tiles: templates whose
// placeholders ("{TileMatrix}", matched without regard to case) are filled in one pass, within
// bounds, and sent only to the hosts the user sent the description's own request to.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mapservice {

// The longest tile address asked for, and the longest value a description gives a dimension.
constexpr std::size_t maxUrlBytes = 8192;
constexpr std::size_t maxDimensionBytes = 1024;

// A placeholder's name in lower case, without braces, and its value.
using Filling = std::vector<std::pair<std::string, std::string>>;

// |text| with each "{name}" that |filling| names replaced by its value, in one pass over |text|
// (a value is never read for placeholders); others stay as they are. Nothing when the result
// would be longer than |most| bytes.
std::optional<std::string> expandTemplate(std::string_view text, const Filling& filling,
                                          std::size_t most = maxUrlBytes);

// Why a tile address |url| that the description at |descriptionUrl| gave may not be asked for,
// or nothing: it names a user or password, or a host and port other than the description's own
// (its HTTP host over HTTPS counts as its own) that |hosts| does not list ("host" for any of
// its ports, "host:port", separated by commas). Never shows the address's path or query.
std::optional<std::string> tileAddressProblem(const std::string& url,
                                              const std::string& descriptionUrl,
                                              const std::string& hosts);

} // namespace mapservice
