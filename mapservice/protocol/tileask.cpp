#include "mapservice/protocol/tileask.h"

#include "common/webmercator.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace mapservice {

namespace {

namespace mercator = common::mercator;

common::Error noTile(std::string_view path)
{
    constexpr std::size_t shown = 80;
    return common::notFound("not found: no tile /tiles/" + std::string(path.substr(0, shown)) +
                                (path.size() > shown ? "..." : "") +
                                " (tiles are /tiles/CODE/Z/X/Y.png, .jpg or .webp)",
                            404);
}

// A whole number of decimal digits alone, at most 18 of them.
std::optional<std::int64_t> digits(std::string_view text)
{
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool isCodeCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

} // namespace

common::Result<TileAsk> parseTilePath(std::string_view path)
{
    TileAsk tile;
    std::string_view rest = path;
    const auto part = [&rest]() {
        const std::size_t slash = rest.find('/');
        const std::string_view p = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        return p;
    };
    const std::string_view code = part();
    const std::string_view z = part();
    const std::string_view x = part();
    std::string_view y = rest;
    if (code.empty() || code.size() > 64 ||
        !std::all_of(code.begin(), code.end(), isCodeCharacter) || y.find('/') != y.npos) {
        return noTile(path);
    }
    tile.code = std::string(code);
    const std::size_t dot = y.rfind('.');
    if (dot == std::string_view::npos) {
        return noTile(path);
    }
    const std::string_view ending = y.substr(dot + 1);
    y = y.substr(0, dot);
    if (ending == "png") {
        tile.format = TileFormat::Png;
    } else if (ending == "jpg" || ending == "jpeg") {
        tile.format = TileFormat::Jpeg;
    } else if (ending == "webp") {
        tile.format = TileFormat::Webp;
    } else {
        return noTile(path);
    }
    if (y.size() > 3 && y.substr(y.size() - 3) == "@2x") {
        tile.scale = 2;
        y = y.substr(0, y.size() - 3);
    }
    const auto zv = digits(z);
    const auto xv = digits(x);
    const auto yv = digits(y);
    if (!zv || !xv || !yv || *zv > maxTileZoom) {
        return noTile(path);
    }
    tile.z = static_cast<int>(*zv);
    const auto n = static_cast<std::int64_t>(mercator::tilesAcross(tile.z));
    if (*xv >= n || *yv >= n) {
        return noTile(path);
    }
    tile.x = *xv;
    tile.y = *yv;
    return tile;
}

common::GeoBox tileBox(int z, std::int64_t x, std::int64_t y)
{
    return {.west = mercator::columnLongitude(static_cast<double>(x), z),
            .south = mercator::rowLatitude(static_cast<double>(y + 1), z),
            .east = mercator::columnLongitude(static_cast<double>(x + 1), z),
            .north = mercator::rowLatitude(static_cast<double>(y), z)};
}

MapRequest tilePicture(const TileAsk& tile, int margin)
{
    const common::GeoBox box = tileBox(tile.z, tile.x, tile.y);
    const double lonSpan = box.east - box.west;
    // A Mercator pixel spans lonSpan / side degrees of longitude and that times cos(latitude) of
    // latitude: the picture's square pixels follow the finest of them, nearest the pole.
    const double poleward = std::max(std::abs(box.north), std::abs(box.south));
    const double shrink = std::max(std::cos(poleward * std::numbers::pi / 180), 0.25);
    const double dpp = lonSpan / tile.side() * shrink;
    MapRequest request;
    request.centre = {(box.north + box.south) / 2, (box.west + box.east) / 2};
    request.zoom = dpp * 45 * 1999;
    request.width = std::min(maxSide, static_cast<int>(std::ceil(lonSpan / dpp)) + 2 * margin);
    request.height =
        std::min(maxSide, static_cast<int>(std::ceil((box.north - box.south) / dpp)) + 2 * margin);
    request.mapcode = tile.code;
    request.legend = false;
    request.bare = true;
    return request;
}

namespace {

// The content type and ending of each format, in the order of TileFormat.
struct FormatNames {
    const char* contentType;
    const char* ending;
};
constexpr FormatNames formatNames[] = {
    {"image/png", "png"}, {"image/jpeg", "jpg"}, {"image/webp", "webp"}};

} // namespace

const char* contentTypeOf(TileFormat format)
{
    return formatNames[static_cast<int>(format)].contentType;
}

const char* endingOf(TileFormat format)
{
    return formatNames[static_cast<int>(format)].ending;
}

bool isHostHeader(std::string_view host)
{
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        name = host.substr(1, close - 1);
        const std::string_view after = host.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            return false;
        }
        port = after.empty() ? after : after.substr(1);
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
            })) {
            return false;
        }
    } else {
        const std::size_t colon = host.find(':');
        name = host.substr(0, colon);
        port = colon == std::string_view::npos ? std::string_view() : host.substr(colon + 1);
        if (colon != std::string_view::npos && port.empty()) {
            return false;
        }
        if (name.empty() || name.size() > 253 || !std::all_of(name.begin(), name.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
            })) {
            return false;
        }
    }
    return port.size() <= 5 &&
           std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace mapservice
