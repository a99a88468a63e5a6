// What tile servers say about themselves, read from any bytes: WMTS capabilities, a tiled map
// service's JSON, an exception report, and a source's spec. No crash, and every grid read is
// one a picture can be planned on.
#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/owsexception.h"
#include "mapservice/protocol/tilegrid.h"
#include "mapservice/protocol/tileservice.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void plan(const mapservice::TileService& service)
{
    mapservice::MapRequest request;
    request.centre = {50, 10};
    request.zoom = 90;
    request.width = request.height = 100;
    const auto planned = mapservice::gridPlan(service.grid, mapservice::Geometry(request), 19,
                                              std::int64_t{64} << 20);
    if (planned && planned->matrix >= static_cast<int>(service.grid.matrices.size())) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto spec = mapservice::splitSourceParams(
        "a wmts: source", "http://t.example/c" + text,
        {"layer", "tilematrixset", "style", "format", "hosts", "subdomains", "tilesize"});
    if (spec) {
        if (const auto tiles = mapservice::xyzTemplate(*spec, false)) {
            (void)mapservice::tileUrl(*tiles, 3, 5, 2);
        }
    }
    const mapservice::SourceParams none = *mapservice::splitSourceParams("a wmts: source", "x", {});
    if (const auto read = mapservice::readWmtsCapabilities(text, "http://t.example/c", none)) {
        plan(*read);
    }
    if (const auto read = mapservice::readArcgisService(text, "http://t.example/MapServer")) {
        plan(*read);
    }
    (void)mapservice::owsException(text);
    return 0;
}
