#include "mapservice/remotesource.h"

#include "common/gdal.h"
#include "common/redirect.h"
#include "mapservice/drawing.h"
#include "mapservice/geometry.h"
#include "mapservice/overlay.h"
#include "mapservice/quantize.h"
#include "mapservice/tilegrid.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <unistd.h>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

// Half the Web Mercator world's width in metres.
// The most a band of tiles laid out for the warper may hold.
constexpr std::int64_t mosaicBudget = std::int64_t{48} << 20;
// The largest picture an upstream answer may hold, a side.
constexpr int largestAnswer = 4096;
// How many zoom levels coarser a missing tile is looked for.
constexpr int parentLevels = 8;

std::string hexHash(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Gathers the upstream answers one picture needs: each name asked once, the picture failed at
// its first failing answer (the others then stop), done once all have come.
class Collector : public std::enable_shared_from_this<Collector> {
public:
    using Files = std::map<std::string, std::string>; // name: cached file
    using Make = std::function<GatheredPtr(Files)>;

    Collector(Upstream& upstream, std::string keyPrefix, Wanted wanted, Gathering done, Make make)
        : upstream_(upstream), keyPrefix_(std::move(keyPrefix)), wanted_(std::move(wanted)),
          done_(std::move(done)), make_(std::move(make))
    {}

    // Asks for |name| at |url|, a picture of |size|; |ifMissing| runs when the upstream has
    // nothing there.
    void ask(const std::string& name, const std::string& url, const std::string& what,
             PictureSize size, std::function<void()> ifMissing = {})
    {
        {
            const std::lock_guard lock(mutex_);
            if (finished_ || !asked_.insert(name).second) {
                return;
            }
            ++outstanding_;
        }
        upstream_.fetch(url, keyPrefix_ + "/" + name, what, size, wanted_,
                        [self = shared_from_this(), name, ifMissing = std::move(ifMissing)](
                            const Fetched& fetched) { self->arrived(name, fetched, ifMissing); });
    }

    // Every first request is made.
    void started() { release(); }

private:
    void arrived(const std::string& name, const Fetched& fetched,
                 const std::function<void()>& ifMissing)
    {
        if (!fetched) {
            fail(fetched.error());
        } else if (fetched->has_value()) {
            const std::lock_guard lock(mutex_);
            files_[name] = **fetched;
        } else if (ifMissing) {
            ifMissing();
        }
        release();
    }

    void release()
    {
        Files files;
        {
            const std::lock_guard lock(mutex_);
            if (--outstanding_ > 0 || finished_) {
                return;
            }
            finished_ = true;
            files.swap(files_);
        }
        done_(make_(std::move(files)));
    }

    void fail(const common::Error& error)
    {
        {
            const std::lock_guard lock(mutex_);
            if (finished_) {
                return;
            }
            finished_ = true;
        }
        *wanted_.abandoned = true; // the picture's other requests stop
        done_(error);
    }

    Upstream& upstream_;
    const std::string keyPrefix_;
    const Wanted wanted_;
    const Gathering done_;
    const Make make_;
    std::mutex mutex_;
    int outstanding_ = 1; // the first requests being made
    bool finished_ = false;
    std::set<std::string> asked_;
    Files files_;
};

Wanted within(const Wanted& wanted, int seconds)
{
    Wanted w = wanted;
    w.deadline =
        std::min(w.deadline, std::chrono::steady_clock::now() + std::chrono::seconds(seconds));
    return w;
}

// The picture in colours: the drawn map, on which the upstream's pictures are laid.
common::Result<RgbImage> drawnColours(const DrawnSource& drawn, const MapRequest& request)
{
    auto base = drawn.draw(request);
    if (!base) {
        return base.error();
    }
    const Picture& picture = *base;
    RgbImage out(picture.image.width, picture.image.height, {0, 0, 0});
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        out.pixels[i] = picture.palette[picture.image.pixels[i]];
    }
    return out;
}

// The pixels of an upstream answer as red, green, blue and alpha, |width| x |height|, read from
// the part (|column|, |row|) of its 2^|level| x 2^|level| parts (level 0: all of it), enlarged
// or reduced to fit. A file that is no picture is dropped from the cache.
common::Result<std::vector<std::uint8_t>> decodeRgba(const std::string& file, int level,
                                                     std::int64_t column, std::int64_t row,
                                                     int width, int height,
                                                     const std::string& where)
{
    const gdal::ErrorCapture errors;
    const char* const drivers[] = {"PNG", "JPEG", "GIF", "WEBP", nullptr};
    const char* const noSiblings[] = {nullptr}; // nothing beside a cached answer is read
    gdal::Dataset dataset(GDALDataset::FromHandle(
        GDALOpenEx(file.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, noSiblings)));
    GDALDatasetH ds = gdal::handle(dataset);
    const int w = ds != nullptr ? GDALGetRasterXSize(ds) : 0;
    const int h = ds != nullptr ? GDALGetRasterYSize(ds) : 0;
    const int bands = ds != nullptr ? GDALGetRasterCount(ds) : 0;
    if (bands == 0 || w < 1 || h < 1 || w > largestAnswer || h > largestAnswer) {
        ::unlink(file.c_str());
        return common::passing(where + " is no picture of at most " +
                                   std::to_string(largestAnswer) + " pixels a side",
                               502);
    }
    const int parts = 1 << level;
    const int partWidth = std::max(1, w / parts);
    const int partHeight = std::max(1, h / parts);
    const int x = static_cast<int>(std::min<std::int64_t>(column * w / parts, w - partWidth));
    const int y = static_cast<int>(std::min<std::int64_t>(row * h / parts, h - partHeight));
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    const auto pixels = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t> rgba(pixels * 4, 255);
    GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1));
    CPLErr read = CE_None;
    if (table != nullptr) {
        std::vector<std::uint8_t> index(pixels);
        read = GDALRasterIOEx(GDALGetRasterBand(ds, 1), GF_Read, x, y, partWidth, partHeight,
                              index.data(), width, height, GDT_Byte, 0, 0, &extra);
        for (std::size_t i = 0; i < pixels; ++i) {
            const GDALColorEntry* entry = GDALGetColorEntry(table, index[i]);
            if (entry != nullptr) {
                rgba[i * 4] = static_cast<std::uint8_t>(entry->c1);
                rgba[i * 4 + 1] = static_cast<std::uint8_t>(entry->c2);
                rgba[i * 4 + 2] = static_cast<std::uint8_t>(entry->c3);
                rgba[i * 4 + 3] = static_cast<std::uint8_t>(entry->c4);
            }
        }
    } else {
        // Grey, grey and alpha, colours, colours and alpha.
        std::array<int, 4> map{1, 1, 1, 2};
        int count = bands == 2 ? 4 : 3;
        if (bands >= 3) {
            map = {1, 2, 3, 4};
            count = bands >= 4 ? 4 : 3;
        }
        extra.eResampleAlg = level > 0 ? GRIORA_Bilinear : GRIORA_NearestNeighbour;
        read = GDALDatasetRasterIOEx(ds, GF_Read, x, y, partWidth, partHeight, rgba.data(), width,
                                     height, GDT_Byte, count, map.data(), 4, GSpacing{4} * width, 1,
                                     &extra);
    }
    if (read != CE_None) {
        ::unlink(file.c_str());
        return errors.error(common::ErrorKind::Passing, where + " cannot be read", 502);
    }
    return rgba;
}

// A MEM dataset of |width| x |height| pixels, red, green, blue and alpha (all transparent).
gdal::Dataset rgbaDataset(int width, int height, const std::array<double, 6>& transform,
                          OGRSpatialReferenceH srs)
{
    gdal::Dataset dataset(GDALDataset::FromHandle(
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 4, GDT_Byte, nullptr)));
    if (!dataset) {
        return dataset;
    }
    GDALDatasetH ds = gdal::handle(dataset);
    std::array<double, 6> t = transform;
    GDALSetGeoTransform(ds, t.data());
    GDALSetSpatialRef(ds, srs);
    GDALSetRasterColorInterpretation(GDALGetRasterBand(ds, 4), GCI_AlphaBand);
    return dataset;
}

class SpatialReference {
public:
    explicit SpatialReference(const std::string& proj4) : srs_(OSRNewSpatialReference(nullptr))
    {
        OSRImportFromProj4(srs_, proj4.c_str());
        OSRSetAxisMappingStrategy(srs_, OAMS_TRADITIONAL_GIS_ORDER);
    }
    ~SpatialReference() { OSRDestroySpatialReference(srs_); }
    SpatialReference(const SpatialReference&) = delete;
    SpatialReference& operator=(const SpatialReference&) = delete;
    OGRSpatialReferenceH get() const { return srs_; }

private:
    OGRSpatialReferenceH srs_;
};

common::Status writeRgba(GDALDatasetH ds, int x, int y, int width, int height,
                         std::vector<std::uint8_t>& rgba)
{
    if (GDALDatasetRasterIO(ds, GF_Write, x, y, width, height, rgba.data(), width, height, GDT_Byte,
                            4, nullptr, 4, 4 * width, 1) != CE_None) {
        return common::permanent("cannot lay out the upstream pictures", 500);
    }
    return {};
}

// The tiles a picture needs, by "z/x/y".
struct TileSet : Gathered {
    TileRange range;
    std::map<std::string, std::string> files;
};

std::string tileName(int zoom, std::int64_t x, std::int64_t y)
{
    return std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y);
}

// Lays the tiles of |set| over |out|, in bands of tile rows that each fit the budget: Web
// Mercator centred on the picture, so that across 180 degrees the tiles run on unbroken.
common::Status layTiles(const TileSet& set, const std::string& host, const Geometry& g,
                        const Legend& legend, RgbImage& out)
{
    const TileRange& r = set.range;
    const int z = r.zoom;
    const double tileMetres = 2 * common::mercator::halfWorldMetres / std::ldexp(1.0, z);
    const std::int64_t rowBytes = r.columns() * tilePixels * tilePixels * 4;
    const std::int64_t band = std::max<std::int64_t>(1, mosaicBudget / rowBytes - 2);
    const double centre = g.centreLon - 360.0 * std::round(g.centreLon / 360.0);
    char proj4[200];
    std::snprintf(proj4, sizeof proj4,
                  "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=%.12f +x_0=0 +y_0=0 +k=1 "
                  "+units=m +nadgrids=@null +wktext +no_defs",
                  centre);
    const SpatialReference mercator(proj4);
    const auto width = static_cast<int>(r.columns() * tilePixels);
    for (std::int64_t first = r.north; first <= r.south; first += band) {
        const std::int64_t last = std::min(r.south, first + band - 1);
        const std::int64_t top = std::max(r.north, first - 1);   // a row more each side, for
        const std::int64_t bottom = std::min(r.south, last + 1); // resampling at the edges
        const std::array<double, 6> transform{
            (static_cast<double>(r.west) * tileMetres - common::mercator::halfWorldMetres) -
                g.centreLon * common::mercator::halfWorldMetres / 180.0,
            tileMetres / tilePixels,
            0,
            common::mercator::halfWorldMetres - static_cast<double>(top) * tileMetres,
            0,
            -tileMetres / tilePixels};
        const gdal::Dataset mosaic = rgbaDataset(
            width, static_cast<int>((bottom - top + 1) * tilePixels), transform, mercator.get());
        if (!mosaic) {
            return common::permanent("cannot make room for the upstream tiles", 500);
        }
        std::optional<common::Error> failed;
        for (std::int64_t y = top; y <= bottom; ++y) {
            for (std::int64_t x = r.west; x <= r.east; ++x) {
                const std::int64_t column = wrapColumn(x, z);
                for (int level = 0; level <= parentLevels && level <= z; ++level) {
                    const auto found =
                        set.files.find(tileName(z - level, column >> level, y >> level));
                    if (found == set.files.end()) {
                        continue;
                    }
                    const std::int64_t part = (std::int64_t{1} << level) - 1;
                    auto rgba =
                        decodeRgba(found->second, level, column & part, y & part, tilePixels,
                                   tilePixels, "upstream " + host + ": tile " + found->first);
                    if (!rgba) {
                        // The rest are still decoded, so that every damaged tile leaves the
                        // cache now, not one a picture.
                        failed = failed ? failed : std::optional(rgba.error());
                        break;
                    }
                    if (auto laid = writeRgba(gdal::handle(mosaic),
                                              static_cast<int>((x - r.west) * tilePixels),
                                              static_cast<int>((y - top) * tilePixels), tilePixels,
                                              tilePixels, *rgba);
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
        if (auto laid = overlayRaster(gdal::handle(mosaic), "NONE", g, legend, from, to, out);
            !laid) {
            return common::permanent("cannot warp the upstream tiles: " + laid.error().text, 500);
        }
    }
    return {};
}

// The answers a WMS picture needs, by block.
struct WmsSet : Gathered {
    WmsPlan plan;
    std::vector<std::string> names; // of each block
    std::map<std::string, std::string> files;
};

common::Status layWms(const WmsSet& set, const std::string& host, const Geometry& g,
                      const Legend& legend, RgbImage& out)
{
    const SpatialReference wgs84("+proj=longlat +datum=WGS84 +no_defs");
    for (std::size_t p = 0; p < set.plan.pieces.size(); ++p) {
        const WmsPiece& piece = set.plan.pieces[p];
        const std::array<double, 6> transform{
            piece.west, (piece.east - piece.west) / piece.width,    0, piece.north,
            0,          -(piece.north - piece.south) / piece.height};
        const gdal::Dataset mosaic = rgbaDataset(piece.width, piece.height, transform, wgs84.get());
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
        if (auto laid = overlayRaster(gdal::handle(mosaic), "NONE", g, legend, 0, g.height, out);
            !laid) {
            return common::permanent("cannot warp the upstream pictures: " + laid.error().text,
                                     500);
        }
    }
    return {};
}

common::Result<Picture> finish(const MapRequest& request, RgbImage& out)
{
    Picture picture = quantize(out);
    picture.credit = request.attribution;
    return picture;
}

} // namespace

Upstreams::Upstreams(const RemoteOptions& options)
    : options_((gdal::setUp({{"GDAL_CACHEMAX", "64"}}), options)),
      cache_(options.cacheFolder.empty()
                 ? (std::filesystem::temp_directory_path() / "mapservice-cache").native()
                 : options.cacheFolder,
             static_cast<std::uint64_t>(options.cacheMaxMegabytes) << 20)
{}

Upstream& Upstreams::of(const std::string& url)
{
    const std::string host = common::authorityOf(url);
    auto& upstream = byHost_[host];
    if (!upstream) {
        upstream = std::make_unique<Upstream>(
            host,
            Upstream::Options{options_.userAgent,
                              static_cast<std::int64_t>(options_.maxTileMegabytes) << 20, 2},
            cache_);
    }
    return *upstream;
}

WmsPlan wmsPlan(const Geometry& g, int most)
{
    WmsPlan plan;
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    const double north = std::min(90.0, g.latAt(0));
    const double south = std::max(-90.0, g.latAt(g.height));
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
                        [&](const WmsPiece& p) { return p.west == a && p.east == b; });
        if (b - a < g.degreesPerPixel / 2 || seen) {
            continue;
        }
        const WmsPiece piece{a, south, b, north, pixels(b - a), pixels(north - south)};
        const int index = static_cast<int>(plan.pieces.size());
        plan.pieces.push_back(piece);
        const double dx = (b - a) / piece.width;
        const double dy = (north - south) / piece.height;
        for (int top = 0; top < piece.height; top += most) {
            const int h = std::min(most, piece.height - top);
            for (int left = 0; left < piece.width; left += most) {
                const int w = std::min(most, piece.width - left);
                plan.blocks.push_back({a + left * dx, north - (top + h) * dy, a + (left + w) * dx,
                                       north - top * dy, w, h, index, left, top});
            }
        }
    }
    return plan;
}

std::string getMapUrl(const std::string& url, const WmsBlock& block)
{
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
    std::snprintf(box, sizeof box, "BBOX=%.9f,%.9f,%.9f,%.9f&WIDTH=%d&HEIGHT=%d", block.west,
                  block.south, block.east, block.north, block.width, block.height);
    return out + "SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&SRS=EPSG:4326&" + box;
}

RemoteSource::RemoteSource(std::string url, Upstreams& upstreams, const ShoreData& shores)
    : url_(std::move(url)), keyPrefix_(hexHash(url_)), upstream_(upstreams.of(url_)),
      options_(upstreams.options()), drawn_(shores)
{}

Wanted RemoteSource::withinTimeout(const Wanted& wanted) const
{
    return within(wanted, options_.timeoutSeconds);
}

std::optional<Gathering> RemoteSource::takePlace(Gathering done) const
{
    if (waiting_->fetch_add(1) >= options_.waitingPerSource) {
        waiting_->fetch_sub(1);
        done(common::passing("busy: too many pictures wait for this map's source", 503));
        return std::nullopt;
    }
    return [waiting = waiting_, done = std::move(done)](common::Result<GatheredPtr> gathered) {
        waiting->fetch_sub(1);
        done(std::move(gathered));
    };
}

common::Result<Picture> RemoteSource::drawGathered(const MapRequest& request,
                                                   const Gathered* gathered) const
{
    auto out = drawnColours(drawn_, request);
    if (!out) {
        return out.error();
    }
    const Geometry g(request);
    if (gathered != nullptr) {
        if (auto laid = lay(*gathered, g, legendBox(g, request), *out); !laid) {
            return laid.error();
        }
    }
    return finish(request, *out);
}

common::Result<Picture> RemoteSource::draw(const MapRequest& request) const
{
    return gatherAndDraw(*this, request);
}

namespace {

void askTile(const std::shared_ptr<Collector>& collector, const std::string& url, int zoom,
             std::int64_t x, std::int64_t y, int level)
{
    const std::string name = tileName(zoom, x, y);
    std::function<void()> ifMissing;
    if (level < parentLevels && zoom > 0) {
        ifMissing = [collector, url, zoom, x, y, level] {
            askTile(collector, url, zoom - 1, x / 2, y / 2, level + 1);
        };
    }
    collector->ask(name, tileUrl(url, zoom, x, y), "tile " + name, {tilePixels, tilePixels},
                   std::move(ifMissing));
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
        range = coveringTiles(g, tileZoomFor(g.degreesPerPixel, request.maxZoom));
    }
    auto collector = std::make_shared<Collector>(upstream_, keyPrefix_, withinTimeout(wanted),
                                                 std::move(*done), [range](Collector::Files files) {
                                                     auto set = std::make_shared<TileSet>();
                                                     set->range = range;
                                                     set->files = std::move(files);
                                                     return set;
                                                 });
    for (std::int64_t y = range.north; y <= range.south; ++y) {
        for (std::int64_t x = range.west; x <= range.east; ++x) {
            askTile(collector, url_, range.zoom, wrapColumn(x, range.zoom), y, 0);
        }
    }
    collector->started();
}

common::Status XyzSource::lay(const Gathered& gathered, const Geometry& g, const Legend& legend,
                              RgbImage& out) const
{
    const auto& set = dynamic_cast<const TileSet&>(gathered);
    return set.range.empty() ? common::Status() : layTiles(set, upstream_.host(), g, legend, out);
}

void WmsSource::gather(const MapRequest& request, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    const WmsPlan plan = wmsPlan(Geometry(request));
    std::vector<std::string> urls;
    std::vector<std::string> names;
    for (const WmsBlock& block : plan.blocks) {
        urls.push_back(getMapUrl(url_, block));
        names.push_back(hexHash(urls.back()));
    }
    auto collector =
        std::make_shared<Collector>(upstream_, keyPrefix_, withinTimeout(wanted), std::move(*done),
                                    [plan, names](Collector::Files files) {
                                        auto set = std::make_shared<WmsSet>();
                                        set->plan = plan;
                                        set->names = names;
                                        set->files = std::move(files);
                                        return set;
                                    });
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const WmsBlock& b = plan.blocks[i];
        char what[160];
        std::snprintf(what, sizeof what, "GetMap %.6f,%.6f,%.6f,%.6f", b.west, b.south, b.east,
                      b.north);
        collector->ask(names[i], urls[i], what, {b.width, b.height});
    }
    collector->started();
}

common::Status WmsSource::lay(const Gathered& gathered, const Geometry& g, const Legend& legend,
                              RgbImage& out) const
{
    return layWms(dynamic_cast<const WmsSet&>(gathered), upstream_.host(), g, legend, out);
}

} // namespace mapservice
