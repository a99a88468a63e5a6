#pragma once

// The files of the map page, built into the service from mapservice/page/.
#include <optional>
#include <string_view>

namespace mapservice {

// The file |name| of the page ("index.html", "page.js", "region.js"), or nothing.
std::optional<std::string_view> pageFile(std::string_view name);

} // namespace mapservice
