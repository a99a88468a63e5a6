#include "mapservice/http/routes.h"

#include "common/credit.h"
#include "common/readfile.h"
#include "mapservice/draw/tilewarp.h"
#include "mapservice/http/documents.h"
#include "mapservice/http/pagefiles.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/protocol/tileask.h"

#include <algorithm>
#include <exception>

namespace mapservice {

namespace {

Answer notFound(const std::string& text)
{
    return {404, "text/plain", "not found: " + text + "\n", {}};
}

// A document for every client: any page may read it.
Answer document(std::string contentType, std::string body)
{
    Answer answer(200, std::move(contentType), std::move(body));
    answer.anyOrigin = true;
    answer.maxAge = 60;
    return answer;
}

// The address the documents name: the public one, else the one the request was sent to.
std::optional<std::string> baseOf(const Site& site, std::string_view host)
{
    if (!site.publicUrl.empty()) {
        std::string base = site.publicUrl;
        while (!base.empty() && base.back() == '/') {
            base.pop_back();
        }
        return base;
    }
    if (!isHostHeader(host)) {
        return std::nullopt;
    }
    return "http://" + std::string(host);
}

Answer badHost()
{
    return {400,
            "text/plain",
            "bad request: the Host header must be host[:port] (or start the service with "
            "--public-url)\n",
            {}};
}

// A document whose addresses come from the Host header, unless a public one is set.
template <typename Make> Answer addressed(const Site& site, std::string_view host, Make make)
{
    const auto base = baseOf(site, host);
    if (!base) {
        return badHost();
    }
    Answer answer = make(*base);
    answer.varyHost = site.publicUrl.empty();
    return answer;
}

Answer drawTile(const TileAsk& tile, const Source& source, const MapRequest& request,
                const Gathered* gathered, const Halt& halt)
{
    try {
        if (const auto* passed = dynamic_cast<const PassedTile*>(gathered)) {
            if (!passed->file.empty()) { // the upstream's tile, as it is
                auto bytes = common::readUpTo(passed->file, std::size_t{64} << 20);
                if (!bytes) {
                    return refusal(common::passing("the tile went from the cache", 503));
                }
                Answer answer(200, contentTypeOf(tile.format), std::move(*bytes));
                answer.anyOrigin = true;
                return answer;
            }
            gathered = nullptr; // the upstream has none: the drawn map alone
        }
        auto picture = source.drawGathered(request, gathered, halt);
        if (!picture) {
            return refusal(picture.error());
        }
        auto bytes = warpToTile(*picture, Geometry(request), tile, halt);
        if (!bytes) {
            return refusal(bytes.error());
        }
        Answer answer(200, contentTypeOf(tile.format), std::move(bytes).value(),
                      common::cleanCredit(picture->credit));
        answer.drawnFrom = picture->drawnFrom;
        answer.anyOrigin = true;
        return answer;
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot draw the tile: ") + e.what(), 500));
    }
}

Routed tileRoute(const Source& source, std::string_view path)
{
    const auto tile = parseTilePath(path);
    if (!tile) {
        return refusal(tile.error());
    }
    const auto layers = source.layers();
    const auto layer = std::find_if(layers.begin(), layers.end(),
                                    [&](const MapLayer& l) { return l.code == tile->code; });
    if (layer == layers.end()) {
        return notFound("no map code " + tile->code);
    }
    if (tile->z > layer->maxZoom) {
        return notFound("map code " + tile->code + " has tiles up to zoom " +
                        std::to_string(layer->maxZoom));
    }
    DrawingJob job;
    job.request = tilePicture(*tile);
    job.variant = "tile " + std::to_string(tile->side()) + " " + endingOf(tile->format);
    if (source.passesTile(*tile)) {
        job.gather = [tile = *tile](const Source& s, const Wanted& wanted, Gathering done) {
            s.gatherTile(tile, wanted, std::move(done));
        };
    }
    job.draw = [tile = *tile](const Source& s, const MapRequest& request, const Gathered* gathered,
                              const Halt& halt) {
        return drawTile(tile, s, request, gathered, halt);
    };
    return job;
}

Routed tileJsonRoute(const Source& source, const Site& site, std::string_view code,
                     std::string_view host)
{
    for (const MapLayer& layer : source.layers()) {
        if (layer.code == code) {
            return addressed(site, host, [&](const std::string& base) {
                return document("application/json", tileJson(layer, base));
            });
        }
    }
    return notFound("no map code " + std::string(code.substr(0, 64)));
}

// The KVP requests at /wmts: GetCapabilities, and GetTile as the RESTful tiles.
Routed wmtsRoute(const Source& source, const Site& site, std::string_view query,
                 std::string_view host)
{
    std::map<std::string, std::string> keys;
    for (const auto& [key, value] : parseQuery(query)) {
        keys[lowerAscii(key)] = value;
    }
    if (lowerAscii(keys["service"]) != "wmts") {
        return Answer{400, "text/plain", "bad request: SERVICE=WMTS is missing\n", {}};
    }
    const std::string request = lowerAscii(keys["request"]);
    if (request == "getcapabilities") {
        return addressed(site, host, [&](const std::string& base) {
            return document("application/xml", wmtsCapabilities(source.layers(), base));
        });
    }
    if (request != "gettile") {
        return Answer{
            400, "text/plain", "bad request: REQUEST is GetCapabilities or GetTile\n", {}};
    }
    if (keys["tilematrixset"] != "GoogleMapsCompatible") {
        return notFound("the tile matrix set is GoogleMapsCompatible");
    }
    const std::string format = keys["format"];
    const char* ending = format == "image/jpeg" ? "jpg" : format == "image/webp" ? "webp" : "png";
    return tileRoute(source, keys["layer"] + "/" + keys["tilematrix"] + "/" + keys["tilecol"] +
                                 "/" + keys["tilerow"] + "." + ending);
}

// The files of Leaflet that the page uses, from where Debian puts them.
Routed leafletFile(const Site& site, std::string_view name)
{
    static const char* const files[] = {"leaflet.js",
                                        "leaflet.css",
                                        "images/layers.png",
                                        "images/layers-2x.png",
                                        "images/marker-icon.png",
                                        "images/marker-icon-2x.png",
                                        "images/marker-shadow.png"};
    if (std::find(std::begin(files), std::end(files), name) == std::end(files)) {
        return notFound("no such file of the map page");
    }
    const auto text = common::readUpTo(site.leafletFolder + "/" + std::string(name), 4 << 20);
    if (!text) {
        return Answer{500,
                      "text/plain",
                      "the map page's library is not installed at " + site.leafletFolder +
                          " (Debian's package libjs-leaflet)\n",
                      {}};
    }
    const bool js = name.ends_with(".js");
    const bool css = name.ends_with(".css");
    return document(js    ? "text/javascript; charset=utf-8"
                    : css ? "text/css; charset=utf-8"
                          : "image/png",
                    *text);
}

} // namespace

Routed route(const Source& source, const Site& site, std::string_view path, std::string_view query,
             std::string_view host)
{
    if (path == "/pub/agent.dll") {
        auto request = readMapRequest(std::string(query));
        if (!request) {
            return refusal(request.error());
        }
        DrawingJob job;
        job.request = *request;
        job.draw = [](const Source& s, const MapRequest& r, const Gathered* gathered,
                      const Halt& halt) { return drawAnswer(r, s, gathered, halt); };
        return job;
    }
    constexpr std::string_view tiles = "/tiles/";
    if (path.starts_with(tiles)) {
        const std::string_view rest = path.substr(tiles.size());
        if (rest.ends_with(".json") && rest.find('/') == std::string_view::npos) {
            return tileJsonRoute(source, site, rest.substr(0, rest.size() - 5), host);
        }
        return tileRoute(source, rest);
    }
    if (path == "/wmts/1.0.0/WMTSCapabilities.xml") {
        return addressed(site, host, [&](const std::string& base) {
            return document("application/xml", wmtsCapabilities(source.layers(), base));
        });
    }
    if (path == "/wmts") {
        return wmtsRoute(source, site, query, host);
    }
    if (path == "/layers.json") {
        return document("application/json", layersJson(source.layers()));
    }
    constexpr std::string_view leaflet = "/leaflet/";
    if (path.starts_with(leaflet)) {
        return leafletFile(site, path.substr(leaflet.size()));
    }
    const std::string_view name = path == "/" ? "index.html" : path.substr(1);
    if (const auto file = pageFile(name)) {
        return Answer(200,
                      name.ends_with(".html") ? "text/html; charset=utf-8"
                                              : "text/javascript; charset=utf-8",
                      std::string(*file));
    }
    return notFound("maps are served at /pub/agent.dll, tiles at /tiles/CODE/Z/X/Y.png, the map "
                    "page at /");
}

} // namespace mapservice
