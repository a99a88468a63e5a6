#include "mapservice/sources/gridsource.h"

#include "common/printable.h"
#include "common/readfile.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/network/upstreampixels.h"
#include "mapservice/sources/collector.h"

#include <ogr_srs_api.h>

#include <array>
#include <cstdio>

namespace mapservice {

namespace gdal = common::gdal;

namespace {

constexpr std::int64_t descriptionBytes = std::int64_t{8} << 20;
constexpr auto rereadAfter = std::chrono::hours(1);
constexpr auto failureKept = std::chrono::minutes(1);
// The most the tiles of one picture may hold, laid out.
constexpr std::int64_t mosaicBudget = std::int64_t{64} << 20;
// How many matrices coarser a missing tile is looked for.
constexpr int parentLevels = 8;
// The most the addresses of one picture's tiles may add up to.
constexpr std::size_t addressBudget = std::size_t{16} << 20;

// A tile's name in the cache and in the gathered files.
std::string tileName(const TileMatrix& m, std::int64_t col, std::int64_t row)
{
    return hexHash(m.id).substr(0, 12) + "/" + std::to_string(col) + "/" + std::to_string(row);
}

struct GridSet : FetchedFiles {
    std::shared_ptr<const TileService> service;
    GridPlan plan;
    common::Status lay(const std::string& host, const Geometry& g, const Legend& legend,
                       RgbImage& out, const Halt& halt) const override;
    common::Status layRange(const GridRange& range, OGRSpatialReferenceH srs,
                            const std::string& host, const Geometry& g, const Legend& legend,
                            RgbImage& out, const Halt& halt) const;
};

common::Status GridSet::layRange(const GridRange& range, OGRSpatialReferenceH srs,
                                 const std::string& host, const Geometry& g, const Legend& legend,
                                 RgbImage& out, const Halt& halt) const
{
    const TileGrid& grid = service->grid;
    const TileMatrix& m = grid.matrices[static_cast<std::size_t>(plan.matrix)];
    const double tileX = m.resolution * m.tileWidth;
    const double tileY = m.resolution * m.tileHeight;
    const std::array<double, 6> transform{m.left + static_cast<double>(range.west) * tileX,
                                          m.resolution,
                                          0,
                                          m.top - static_cast<double>(range.north) * tileY,
                                          0,
                                          -m.resolution};
    const auto columns = range.east - range.west + 1;
    const auto rows = range.south - range.north + 1;
    const gdal::Dataset mosaic = rgbaDataset(static_cast<int>(columns * m.tileWidth),
                                             static_cast<int>(rows * m.tileHeight), transform, srs);
    if (!mosaic) {
        return common::permanent("cannot make room for the upstream tiles", 500);
    }
    bool any = false;
    for (std::int64_t row = range.north; row <= range.south; ++row) {
        if (halted(halt)) {
            return lateError(host);
        }
        for (std::int64_t col = range.west; col <= range.east; ++col) {
            int matrix = plan.matrix;
            for (int level = 0; level <= parentLevels && matrix >= 0; ++level) {
                const TileMatrix& at = grid.matrices[static_cast<std::size_t>(matrix)];
                const auto found = files.find(tileName(at, col >> level, row >> level));
                if (found == files.end()) {
                    matrix = parentMatrix(grid, matrix);
                    continue;
                }
                const std::int64_t part = (std::int64_t{1} << level) - 1;
                auto rgba = decodeRgba(
                    found->second, level, col & part, row & part, m.tileWidth, m.tileHeight,
                    "upstream " + host + ": tile " + at.id + "/" + std::to_string(col >> level) +
                        "/" + std::to_string(row >> level));
                if (!rgba) {
                    return rgba.error();
                }
                if (auto laid = writeRgba(gdal::handle(mosaic),
                                          static_cast<int>((col - range.west) * m.tileWidth),
                                          static_cast<int>((row - range.north) * m.tileHeight),
                                          m.tileWidth, m.tileHeight, *rgba);
                    !laid) {
                    return laid;
                }
                any = true;
                break;
            }
        }
    }
    if (!any) {
        return {};
    }
    if (auto laid = overlayRaster(gdal::handle(mosaic), "NONE", g, legend, 0, g.height, out, halt);
        !laid) {
        return laid.error().kind == common::ErrorKind::TimedOut
                   ? lateError(host)
                   : common::permanent("cannot warp the upstream tiles: " + laid.error().text, 500);
    }
    return {};
}

common::Status GridSet::lay(const std::string& host, const Geometry& g, const Legend& legend,
                            RgbImage& out, const Halt& halt) const
{
    if (plan.matrix < 0) {
        return {};
    }
    const std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>,
                          decltype(&OSRDestroySpatialReference)>
        srs(OSRNewSpatialReference(service->grid.crs.c_str()), &OSRDestroySpatialReference);
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    for (const GridRange& range : plan.ranges) {
        if (range.empty()) {
            continue;
        }
        if (auto laid = layRange(range, srs.get(), host, g, legend, out, halt); !laid) {
            return laid;
        }
    }
    return {};
}

void askTile(const std::shared_ptr<Collector>& collector,
             const std::shared_ptr<const TileService>& service, int matrix, std::int64_t col,
             std::int64_t row, int level)
{
    const TileMatrix& m = service->grid.matrices[static_cast<std::size_t>(matrix)];
    std::function<void()> ifMissing;
    if (const int parent = parentMatrix(service->grid, matrix);
        parent >= 0 && level < parentLevels) {
        ifMissing = [collector, service, parent, col, row, level] {
            askTile(collector, service, parent, col / 2, row / 2, level + 1);
        };
    }
    collector->ask(tileName(m, col, row), serviceTileUrl(*service, m, col, row),
                   "tile " + m.id + "/" + std::to_string(col) + "/" + std::to_string(row),
                   {m.tileWidth, m.tileHeight}, std::move(ifMissing));
}

} // namespace

// The description as last read; on the loop alone.
struct GridSource::State {
    bool noted = false; // what the description's reading says has been said
    std::shared_ptr<const TileService> service;
    std::chrono::steady_clock::time_point readAt;
    std::optional<common::Error> failure;
    std::chrono::steady_clock::time_point failedAt;
};

GridSource::GridSource(const std::string& cacheName, Description description, Upstreams& upstreams,
                       const ShoreData& shores, Manners manners)
    : RemoteSource(cacheName, description.url, upstreams, shores, std::move(manners)),
      description_(std::move(description)), state_(std::make_shared<State>())
{}

void GridSource::gather(const MapRequest& request, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    const Wanted w = withinTimeout(wanted);
    const auto now = upstream_.network().clock().steady();
    std::shared_ptr<const TileService> service;
    std::optional<common::Error> failure;
    if (state_->service && now - state_->readAt < rereadAfter) {
        service = state_->service;
    } else if (state_->failure && now - state_->failedAt < failureKept) {
        failure = state_->failure;
    }
    if (service) {
        gatherTiles(service, request, w, std::move(*done));
        return;
    }
    if (failure) {
        (*done)(*failure);
        return;
    }
    const auto fetched = [this, request, w, done = std::move(*done)](
                             const common::Result<std::string>& file, const Network::Kept& kept) {
        const auto failed = [this, w, done](const common::Error& error) {
            if (!w.abandoned->isSet()) { // a picture given up on says nothing of the server
                state_->failure = error;
                state_->failedAt = upstream_.network().clock().steady();
            }
            done(error);
        };
        if (!file) {
            failed(file.error());
            return;
        }
        // A description may be large and is read by GDAL: off the loop, which serves every
        // other picture meanwhile.
        auto read = std::make_shared<common::Result<TileService>>(common::Error{});
        upstream_.network().offLoop(
            [this, read, path = *file, kept] {
                const std::string text =
                    common::readUpTo(path, static_cast<std::size_t>(descriptionBytes)).value_or("");
                *read = description_.read(text);
            },
            [this, read, request, w, done, failed] {
                if (!*read) {
                    common::Error error = read->error();
                    error.text = "upstream " + upstream_.host() + ": " + error.text;
                    failed(error);
                    return;
                }
                auto service = std::make_shared<const TileService>(std::move(*read).value());
                state_->service = service;
                state_->readAt = upstream_.network().clock().steady();
                state_->failure.reset();
                const bool noted = state_->noted;
                state_->noted = true;
                for (const std::string& note :
                     noted ? std::vector<std::string>{} : service->notes) {
                    std::fprintf(stderr, "mapservice: upstream %s: %s\n", upstream_.host().c_str(),
                                 common::printable(note).c_str());
                }
                gatherTiles(service, request, w, done);
            });
    };
    upstream_.fetch(description_.url, keyPrefix_ + "/description", "the " + description_.kind,
                    Expected::document(descriptionBytes, description_.kind, description_.isOne), w,
                    fetched, manners_);
}

void GridSource::gatherTiles(const std::shared_ptr<const TileService>& service,
                             const MapRequest& request, const Wanted& wanted, Gathering done) const
{
    const Geometry g(request);
    auto plan = gridPlan(service->grid, g, request.maxZoom, mosaicBudget);
    if (!plan) {
        common::Error error = plan.error();
        error.text = "upstream " + upstream_.host() + ": " + error.text;
        done(error);
        return;
    }
    // Every tile's address is made from the description: their bytes, with the coarser tiles
    // a missing one may be taken from, are bounded before any is made.
    std::int64_t tiles = 0;
    for (const GridRange& range : plan->ranges) {
        tiles += range.tiles();
    }
    if (tiles == 0 && plan->inLayer) {
        done(common::passing("upstream " + upstream_.host() +
                                 ": the layer's WGS84BoundingBox holds this picture, but its "
                                 "tile matrices give no tile address there",
                             502));
        return;
    }
    if (plan->matrix >= 0) {
        const TileMatrix& m = service->grid.matrices[static_cast<std::size_t>(plan->matrix)];
        const std::size_t longest = serviceTileUrl(*service, m, m.maxCol, m.maxRow).size();
        if (static_cast<double>(tiles) * static_cast<double>(longest) * 2 >
            static_cast<double>(addressBudget)) {
            done(common::passing("upstream " + upstream_.host() + ": the picture's " +
                                     std::to_string(tiles) +
                                     " tiles have addresses longer than the service makes for "
                                     "one picture",
                                 502));
            return;
        }
    }
    auto collector = std::make_shared<Collector>(
        upstream_, keyPrefix_, wanted, std::move(done),
        [service, plan = *plan](Collector::Files files) {
            auto set = std::make_shared<GridSet>();
            set->service = service;
            set->plan = plan;
            set->files = std::move(files);
            return set;
        },
        manners_);
    for (const GridRange& range : plan->ranges) {
        for (std::int64_t row = range.north; row <= range.south; ++row) {
            for (std::int64_t col = range.west; col <= range.east; ++col) {
                askTile(collector, service, plan->matrix, col, row, 0);
            }
        }
    }
    collector->started();
}

} // namespace mapservice
