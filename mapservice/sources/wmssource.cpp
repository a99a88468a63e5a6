#include "mapservice/sources/wmssource.h"

#include "mapservice/draw/drawing.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/network/upstreampixels.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/sources/collector.h"
#include "mapservice/sources/dialects.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A box in the CRS it is asked in: degrees, or metres of Web Mercator.
struct Extent {
    double minX, minY, maxX, maxY;
};

double mercatorY(double lat)
{
    return common::mercator::halfWorldMetres / 180.0 *
           std::log(std::tan((90.0 + lat) * std::numbers::pi / 360.0)) * 180.0 / std::numbers::pi;
}

double latitudeOfY(double y)
{
    return 360.0 / std::numbers::pi *
               std::atan(std::exp(y / common::mercator::halfWorldMetres * std::numbers::pi)) -
           90.0;
}

Extent extentOf(const common::GeoBox& box, bool mercator)
{
    if (!mercator) {
        return {box.west, box.south, box.east, box.north};
    }
    const double perDegree = common::mercator::halfWorldMetres / 180.0;
    return {box.west * perDegree, mercatorY(box.south), box.east * perDegree, mercatorY(box.north)};
}

// The answers a WMS picture needs, by block.
struct WmsSet : FetchedFiles {
    WmsPlan plan;
    bool mercator = false;
    std::vector<std::string> names; // of each block
    common::Status lay(const std::string& host, const Geometry& g, const Legend& legend,
                       RgbImage& out, const Halt& halt) const override;
};

common::Status layWms(const WmsSet& set, const std::string& host, const Geometry& g,
                      const Legend& legend, RgbImage& out, const Halt& halt)
{
    const SpatialReference srs(set.mercator ? "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 "
                                              "+lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m "
                                              "+nadgrids=@null +wktext +no_defs"
                                            : "+proj=longlat +datum=WGS84 +no_defs");
    for (std::size_t p = 0; p < set.plan.pieces.size(); ++p) {
        const WmsPiece& piece = set.plan.pieces[p];
        const Extent e = extentOf(piece.box, set.mercator);
        const std::array<double, 6> transform{e.minX, (e.maxX - e.minX) / piece.width,  0, e.maxY,
                                              0,      -(e.maxY - e.minY) / piece.height};
        const gdal::Dataset mosaic = rgbaDataset(piece.width, piece.height, transform, srs.get());
        if (!mosaic) {
            return common::permanent("cannot make room for the upstream pictures", 500);
        }
        bool any = false;
        for (std::size_t b = 0; b < set.plan.blocks.size(); ++b) {
            const WmsBlock& block = set.plan.blocks[b];
            const auto found = set.files.find(set.names[b]);
            if (block.piece != static_cast<int>(p) || found == set.files.end()) {
                continue;
            }
            if (halted(halt)) {
                return lateError(host);
            }
            auto rgba = decodeRgba(found->second, 0, 0, 0, block.width, block.height,
                                   "upstream " + host + ": the GetMap answer");
            if (!rgba) {
                return rgba.error();
            }
            if (auto laid = writeRgba(gdal::handle(mosaic), block.left, block.top, block.width,
                                      block.height, *rgba);
                !laid) {
                return laid;
            }
            any = true;
        }
        if (!any) {
            continue;
        }
        if (auto laid =
                overlayRaster(gdal::handle(mosaic), "NONE", g, legend, 0, g.height, out, halt);
            !laid) {
            return laid.error().kind == common::ErrorKind::TimedOut
                       ? lateError(host)
                       : common::permanent(
                             "cannot warp the upstream pictures: " + laid.error().text, 500);
        }
    }
    return {};
}

common::Status WmsSet::lay(const std::string& host, const Geometry& g, const Legend& legend,
                           RgbImage& out, const Halt& halt) const
{
    return layWms(*this, host, g, legend, out, halt);
}

} // namespace

WmsPlan wmsPlan(const Geometry& g, int most, bool mercator)
{
    WmsPlan plan;
    const double limit = mercator ? common::mercator::mercatorLimit : 90.0;
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    const double north = std::min(limit, g.latAt(0));
    const double south = std::max(-limit, g.latAt(g.height));
    if (north <= south || east - west > 360 * maxWorldsAcross) {
        return plan;
    }
    const auto pixels = [&](double degrees) {
        return std::max(1, static_cast<int>(std::lround(degrees / g.degreesPerPixel)));
    };
    const long firstWorld = static_cast<long>(std::floor((west + 180) / 360));
    const long lastWorld = static_cast<long>(std::floor((east + 180) / 360));
    for (long world = firstWorld; world <= lastWorld; ++world) {
        const double shift = 360.0 * static_cast<double>(world);
        const double a = std::max(west, shift - 180) - shift;
        const double b = std::min(east, shift + 180) - shift;
        const bool seen =
            std::any_of(plan.pieces.begin(), plan.pieces.end(),
                        [&](const WmsPiece& p) { return p.box.west == a && p.box.east == b; });
        if (b - a < g.degreesPerPixel / 2 || seen) {
            continue;
        }
        const common::GeoBox whole{.west = a, .south = south, .east = b, .north = north};
        const Extent e = extentOf(whole, mercator);
        // In Web Mercator a pixel is as tall as it is wide, in metres.
        const double rowsPerUnit =
            mercator ? 180.0 / (common::mercator::halfWorldMetres * g.degreesPerPixel)
                     : 1.0 / g.degreesPerPixel;
        const WmsPiece piece{
            whole, pixels(b - a),
            std::max(1, static_cast<int>(std::lround((e.maxY - e.minY) * rowsPerUnit)))};
        const int index = static_cast<int>(plan.pieces.size());
        plan.pieces.push_back(piece);
        const double dx = (b - a) / piece.width;
        const double dy = (e.maxY - e.minY) / piece.height;
        const auto latitude = [&](double y) { return mercator ? latitudeOfY(y) : y; };
        for (int top = 0; top < piece.height; top += most) {
            const int h = std::min(most, piece.height - top);
            for (int left = 0; left < piece.width; left += most) {
                const int w = std::min(most, piece.width - left);
                const common::GeoBox box{.west = a + left * dx,
                                         .south = latitude(e.maxY - (top + h) * dy),
                                         .east = a + (left + w) * dx,
                                         .north = latitude(e.maxY - top * dy)};
                plan.blocks.push_back({box, w, h, index, left, top});
            }
        }
    }
    return plan;
}

namespace {

// The value of the query parameter |key| (in capitals) in |url|, or "".
std::string queryValue(const std::string& url, const std::string& key)
{
    const std::size_t question = url.find('?');
    if (question == std::string::npos) {
        return {};
    }
    const std::string query = url.substr(question + 1);
    for (std::size_t start = 0; start <= query.size();) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string part = query.substr(start, end - start);
        start = end + 1;
        if (const std::size_t eq = part.find('=');
            eq != std::string::npos && upper(part.substr(0, eq)) == key) {
            return upper(part.substr(eq + 1));
        }
    }
    return {};
}

} // namespace

WmsDialect wmsDialect(const std::string& url)
{
    WmsDialect dialect;
    dialect.version130 = queryValue(url, "VERSION") == "1.3.0";
    dialect.mercator = dialect.version130 && queryValue(url, "CRS") == "EPSG:3857";
    return dialect;
}

std::string getMapUrl(const std::string& url, const WmsBlock& block)
{
    const WmsDialect dialect = wmsDialect(url);
    const std::size_t question = url.find('?');
    std::string out = url.substr(0, question) + "?";
    bool styles = false;
    bool format = false;
    if (question != std::string::npos) {
        const std::string query = url.substr(question + 1);
        for (std::size_t start = 0; start <= query.size();) {
            const std::size_t end = std::min(query.find('&', start), query.size());
            const std::string part = query.substr(start, end - start);
            const std::string key = upper(part.substr(0, part.find('=')));
            start = end + 1;
            if (part.empty() || key == "SERVICE" || key == "REQUEST" || key == "VERSION" ||
                key == "SRS" || key == "CRS" || key == "BBOX" || key == "WIDTH" ||
                key == "HEIGHT") {
                continue;
            }
            styles = styles || key == "STYLES";
            format = format || key == "FORMAT";
            out += part + "&";
        }
    }
    if (!styles) {
        out += "STYLES=&";
    }
    if (!format) {
        out += "FORMAT=image/png&";
    }
    char box[200];
    const Extent e = extentOf(block.box, dialect.mercator);
    if (dialect.mercator) {
        std::snprintf(box, sizeof box, "BBOX=%.4f,%.4f,%.4f,%.4f", e.minX, e.minY, e.maxX, e.maxY);
    } else if (dialect.version130) { // EPSG:4326 has latitude first
        std::snprintf(box, sizeof box, "BBOX=%.9f,%.9f,%.9f,%.9f", e.minY, e.minX, e.maxY, e.maxX);
    } else {
        std::snprintf(box, sizeof box, "BBOX=%.9f,%.9f,%.9f,%.9f", e.minX, e.minY, e.maxX, e.maxY);
    }
    const std::string size =
        "&WIDTH=" + std::to_string(block.width) + "&HEIGHT=" + std::to_string(block.height);
    if (!dialect.version130) {
        return out + "SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&SRS=EPSG:4326&" + box + size;
    }
    return out + "SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&CRS=" +
           (dialect.mercator ? "EPSG:3857&" : "EPSG:4326&") + box + size;
}

void WmsSource::gather(const MapRequest& request, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    const bool mercator = wmsDialect(url_).mercator;
    const WmsPlan plan = wmsPlan(Geometry(request), 1024, mercator);
    std::vector<std::string> urls;
    std::vector<std::string> names;
    for (const WmsBlock& block : plan.blocks) {
        urls.push_back(getMapUrl(url_, block));
        names.push_back(hexHash(urls.back()));
    }
    auto collector = std::make_shared<Collector>(
        upstream_, keyPrefix_, withinTimeout(wanted), std::move(*done),
        [plan, names, mercator](Collector::Files files) {
            auto set = std::make_shared<WmsSet>();
            set->plan = plan;
            set->mercator = mercator;
            set->names = names;
            set->files = std::move(files);
            return set;
        },
        manners_);
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const WmsBlock& b = plan.blocks[i];
        char what[160];
        std::snprintf(what, sizeof what, "GetMap %.6f,%.6f,%.6f,%.6f", b.box.west, b.box.south,
                      b.box.east, b.box.north);
        collector->ask(names[i], urls[i], what, {b.width, b.height});
    }
    collector->started();
}

common::Result<std::unique_ptr<Source>> makeWmsSource(const RemoteSpec& spec)
{
    if (upper(spec.params.url).find("LAYERS=") == std::string::npos) {
        return common::badInput("a wms: source needs LAYERS=... in its URL");
    }
    return std::unique_ptr<Source>(
        std::make_unique<WmsSource>(spec.params.url, spec.upstreams, spec.shores, spec.manners));
}

} // namespace mapservice
