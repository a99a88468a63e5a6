#pragma once

// The files of the page written beside a PMTiles archive, built into the exporter from
// mapexport/page/ and the archive reader from thirdparty/pmtiles/.
#include <optional>
#include <string_view>

namespace mapexport {

// The file |name| ("region.html", "view.js", "pmtiles.js"), or nothing.
std::optional<std::string_view> pageFile(std::string_view name);

} // namespace mapexport
