#include "mapservice/sources/xyzsource.h"

#include "common/gdal.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/network/upstreampixels.h"
#include "mapservice/sources/collector.h"
#include "mapservice/sources/dialects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

// The most a band of tiles laid out for the warper may hold.
constexpr std::int64_t mosaicBudget = std::int64_t{48} << 20;
// How many zoom levels coarser a missing tile is looked for.
constexpr int parentLevels = 8;

// The tiles a picture needs, by "z/x/y".
struct TileSet : FetchedFiles {
    TileRange range;
    int tileSize = tilePixels;
    common::Status lay(const std::string& host, const Geometry& g, const Legend& legend,
                       RgbImage& out, const Halt& halt) const override;
};

std::string tileName(int zoom, std::int64_t x, std::int64_t y)
{
    return std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y);
}

// Lays the tiles of |set| over |out|, in bands of tile rows that each fit the budget: Web
// Mercator centred on the picture, so that across 180 degrees the tiles run on unbroken.
common::Status layTiles(const TileSet& set, const std::string& host, const Geometry& g,
                        const Legend& legend, RgbImage& out, const Halt& halt)
{
    const TileRange& r = set.range;
    const int z = r.zoom;
    const int side = set.tileSize;
    const double tileMetres = 2 * common::mercator::halfWorldMetres / std::ldexp(1.0, z);
    const std::int64_t rowBytes = r.columns() * side * side * 4;
    const std::int64_t band = std::max<std::int64_t>(1, mosaicBudget / rowBytes - 2);
    const double centre = g.centre.longitude - 360.0 * std::round(g.centre.longitude / 360.0);
    char proj4[200];
    std::snprintf(proj4, sizeof proj4,
                  "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=%.12f +x_0=0 +y_0=0 +k=1 "
                  "+units=m +nadgrids=@null +wktext +no_defs",
                  centre);
    const SpatialReference mercator(proj4);
    const auto width = static_cast<int>(r.columns() * side);
    for (std::int64_t first = r.north; first <= r.south; first += band) {
        const std::int64_t last = std::min(r.south, first + band - 1);
        const std::int64_t top = std::max(r.north, first - 1);   // a row more each side, for
        const std::int64_t bottom = std::min(r.south, last + 1); // resampling at the edges
        const std::array<double, 6> transform{
            (static_cast<double>(r.west) * tileMetres - common::mercator::halfWorldMetres) -
                g.centre.longitude * common::mercator::halfWorldMetres / 180.0,
            tileMetres / side,
            0,
            common::mercator::halfWorldMetres - static_cast<double>(top) * tileMetres,
            0,
            -tileMetres / side};
        const gdal::Dataset mosaic = rgbaDataset(width, static_cast<int>((bottom - top + 1) * side),
                                                 transform, mercator.get());
        if (!mosaic) {
            return common::permanent("cannot make room for the upstream tiles", 500);
        }
        std::optional<common::Error> failed;
        for (std::int64_t y = top; y <= bottom; ++y) {
            if (halted(halt)) {
                return lateError(host);
            }
            for (std::int64_t x = r.west; x <= r.east; ++x) {
                const std::int64_t column = wrapColumn(x, z);
                for (int level = 0; level <= parentLevels && level <= z; ++level) {
                    const auto found =
                        set.files.find(tileName(z - level, column >> level, y >> level));
                    if (found == set.files.end()) {
                        continue;
                    }
                    const std::int64_t part = (std::int64_t{1} << level) - 1;
                    auto rgba = decodeRgba(found->second, level, column & part, y & part, side,
                                           side, "upstream " + host + ": tile " + found->first);
                    if (!rgba) {
                        // The rest are still decoded, so that every damaged tile leaves the
                        // cache now, not one a picture.
                        failed = failed ? failed : std::optional(rgba.error());
                        break;
                    }
                    if (auto laid =
                            writeRgba(gdal::handle(mosaic), static_cast<int>((x - r.west) * side),
                                      static_cast<int>((y - top) * side), side, side, *rgba);
                        !laid) {
                        return laid;
                    }
                    break;
                }
            }
        }
        if (failed) {
            return *failed;
        }
        const auto pictureRow = [&](std::int64_t row) {
            return std::clamp(
                static_cast<int>(std::ceil(std::clamp(
                    g.y(rowLatitude(static_cast<double>(row), z)) - 0.5, -1.0, g.height + 1.0))),
                0, g.height);
        };
        const int from = first == r.north ? 0 : pictureRow(first);
        const int to = last == r.south ? g.height : pictureRow(last + 1);
        if (auto laid = overlayRaster(gdal::handle(mosaic), "NONE", g, legend, from, to, out, halt);
            !laid) {
            return laid.error().kind == common::ErrorKind::TimedOut
                       ? lateError(host)
                       : common::permanent("cannot warp the upstream tiles: " + laid.error().text,
                                           500);
        }
    }
    return {};
}

common::Status TileSet::lay(const std::string& host, const Geometry& g, const Legend& legend,
                            RgbImage& out, const Halt& halt) const
{
    return range.empty() ? common::Status() : layTiles(*this, host, g, legend, out, halt);
}

} // namespace

namespace {

void askTile(const std::shared_ptr<Collector>& collector, const XyzTemplate& tiles, int zoom,
             std::int64_t x, std::int64_t y, int level)
{
    const std::string name = tileName(zoom, x, y);
    std::function<void()> ifMissing;
    if (level < parentLevels && zoom > 0) {
        ifMissing = [collector, tiles, zoom, x, y, level] {
            askTile(collector, tiles, zoom - 1, x / 2, y / 2, level + 1);
        };
    }
    collector->ask(name, tileUrl(tiles, zoom, x, y), "tile " + name,
                   {tiles.tileSize, tiles.tileSize}, std::move(ifMissing));
}

} // namespace

void XyzSource::gather(const MapRequest& request, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    const Geometry g(request);
    TileRange range;
    if (g.lonAt(g.width) - g.lonAt(0) <= 360 * maxWorldsAcross) {
        range = coveringTiles(g, templateZoomFor(tiles_, g.degreesPerPixel, request.maxZoom));
    }
    auto collector = std::make_shared<Collector>(
        upstream_, keyPrefix_, withinTimeout(wanted), std::move(*done),
        [range, size = tiles_.tileSize](Collector::Files files) {
            auto set = std::make_shared<TileSet>();
            set->range = range;
            set->tileSize = size;
            set->files = std::move(files);
            return set;
        },
        manners_);
    for (std::int64_t y = range.north; y <= range.south; ++y) {
        for (std::int64_t x = range.west; x <= range.east; ++x) {
            askTile(collector, tiles_, range.zoom, wrapColumn(x, range.zoom), y, 0);
        }
    }
    collector->started();
}

bool XyzSource::passesTile(const TileAsk& tile) const
{
    std::string path = tiles_.url.substr(0, tiles_.url.find('?'));
    const auto endsWith = [&path](const std::string& end) {
        return path.size() >= end.size() &&
               path.compare(path.size() - end.size(), end.size(), end) == 0;
    };
    const bool sameFormat = tile.format == TileFormat::Jpeg
                                ? endsWith(".jpg") || endsWith(".jpeg")
                                : endsWith(std::string(".") + endingOf(tile.format));
    return tile.scale == 1 && tiles_.tileSize == tilePixels && sameFormat;
}

void XyzSource::gatherTile(const TileAsk& tile, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    auto collector = std::make_shared<Collector>(
        upstream_, keyPrefix_, withinTimeout(wanted), std::move(*done),
        [](Collector::Files files) {
            auto passed = std::make_shared<PassedTile>();
            if (!files.empty()) {
                passed->file = files.begin()->second;
            }
            return passed;
        },
        manners_);
    const std::string name = tileName(tile.z, tile.x, tile.y);
    collector->ask(name, tileUrl(tiles_, tile.z, tile.x, tile.y), "tile " + name,
                   {tiles_.tileSize, tiles_.tileSize});
    collector->started();
}

namespace {

common::Result<std::unique_ptr<Source>> makeTileTemplate(const RemoteSpec& spec, bool tms)
{
    auto tiles = xyzTemplate(spec.params, tms);
    if (!tiles) {
        return tiles.error();
    }
    // The cache's name for it: its template and parameters (an xyz: source without them keeps
    // the name of earlier versions, its URL).
    const std::size_t hash = spec.text.rfind('#');
    const std::string cacheName =
        tiles->url + (hash == std::string::npos ? "" : spec.text.substr(hash));
    return std::unique_ptr<Source>(std::make_unique<XyzSource>(
        cacheName, std::move(tiles).value(), spec.upstreams, spec.shores, spec.manners));
}

} // namespace

common::Result<std::unique_ptr<Source>> makeXyzSource(const RemoteSpec& spec)
{
    return makeTileTemplate(spec, false);
}

common::Result<std::unique_ptr<Source>> makeTmsSource(const RemoteSpec& spec)
{
    return makeTileTemplate(spec, true);
}

} // namespace mapservice
