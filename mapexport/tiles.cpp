#include "mapexport/tiles.h"

#include "common/errortext.h"
#include "common/gifcheck.h"
#include "common/tilenamereader.h"
#include "common/worldfile.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>

#include <gif_lib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <map>
#include <set>
#include <sys/stat.h>

namespace mapexport {

namespace {

// A cut value's interval: cutting toward zero keeps 48.50 for [48.50, 48.51) and -12.50 for
// (-12.51, -12.50].
constexpr double cutWidth = 0.01;

double lowEnd(double cut)
{
    return cut < 0 ? cut - cutWidth : cut;
}

// Why the GIF at |path| cannot be decoded, or nothing. Decoded as GDAL decodes it, with giflib,
// so that a tile that passes here does not stop the export later.
std::optional<QString> decodeProblem(const QString& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
    if (gif == nullptr) {
        return QString::fromUtf8(GifErrorString(error));
    }
    std::optional<QString> problem;
    if (DGifSlurp(gif) != GIF_OK) {
        problem = QString::fromUtf8(GifErrorString(gif->Error));
    } else if (gif->ImageCount < 1) {
        problem = QStringLiteral("it holds no picture");
    }
    DGifCloseFile(gif, &error);
    return problem;
}

// Whether |path| is missing or a regular file (a symlink to one counts).
bool absentOrRegular(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 ? errno == ENOENT
                                                                     : S_ISREG(status.st_mode);
}

bool isRegular(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// Why a tile's name cannot place it, or nothing.
std::optional<QString> placeProblem(const common::TileCentre& centre)
{
    if (!(centre.zoom > 0)) {
        return QStringLiteral("its name gives zoom %1, not above 0").arg(centre.zoom);
    }
    if (!(std::fabs(centre.latitude) <= 90) || !(std::fabs(centre.longitude) <= 540)) {
        return QStringLiteral("its name places it at latitude %1, longitude %2, not on the earth")
            .arg(centre.latitude)
            .arg(centre.longitude);
    }
    return std::nullopt;
}

// Why a world file cannot be believed for |tile|, or nothing.
std::optional<QString> worldProblem(const common::GeoTransform& t, const Tile& tile)
{
    if (!std::all_of(t.begin(), t.end(), [](double v) { return std::isfinite(v); })) {
        return QStringLiteral("its world file holds numbers that are not finite");
    }
    if (!(t[1] > 0) || !(t[5] < 0)) {
        return QStringLiteral("its world file gives a pixel size of zero or the wrong sign");
    }
    // One tile spans zoom / 45 degrees; the name keeps the centre to two decimals.
    const double reach = tile.zoom / 45 + 0.01;
    const double lat = t[3] + t[5] * tile.height / 2;
    const double lon = t[0] + t[1] * tile.width / 2;
    if (std::fabs(lat - tile.nameCentre.latitude) > reach ||
        std::fabs(lon - tile.nameCentre.longitude) > reach) {
        return QStringLiteral("its world file puts it more than a tile from its name's place");
    }
    return std::nullopt;
}

} // namespace

int mapTypeOf(const QString& name)
{
    const QString letter = name.section(u'_', 1, 1);
    if (letter == u"E" || letter == u"U") {
        return 1;
    }
    return letter == u"W" ? 2 : 0;
}

Scan scanFolder(const common::TileFolder& folder, const ScanProgress& progress)
{
    Scan scan;
    const auto leaveOut = [&scan](const QString& name, const QString& why) {
        scan.leftOut.append(name + QStringLiteral(": ") + why);
    };
    for (const QString& name : folder.tileImages()) {
        const auto centre = common::readTileName(name);
        const int type = mapTypeOf(name);
        if (!centre || type == 0) {
            scan.foreign.append(name);
            continue;
        }
        if (const auto problem = placeProblem(*centre)) {
            leaveOut(name, *problem);
            continue;
        }
        Tile tile;
        tile.path = QFileInfo(folder.pathOf(name)).absoluteFilePath();
        const QString worldPath = common::worldFilePath(tile.path);
        if (!isRegular(tile.path)) {
            leaveOut(name, QStringLiteral("not a regular file"));
            continue;
        }
        // GDAL opens these itself when it opens a tile: a pipe there would never end.
        if (!absentOrRegular(worldPath) || !absentOrRegular(common::auxFilePath(tile.path))) {
            leaveOut(name, QStringLiteral("a file beside it (.gfw, .gif.aux.xml) is not a regular "
                                          "file"));
            continue;
        }
        common::GifWalker gif;
        if (!common::isWholeGifFile(QFile::encodeName(tile.path).toStdString(), &gif) ||
            gif.screenWidth() < 1 || gif.screenHeight() < 1) {
            leaveOut(name, QStringLiteral("not a readable picture (no whole GIF, %1 bytes)")
                               .arg(QFileInfo(tile.path).size()));
            continue;
        }
        // Checked before anything decodes it: a few bytes can declare gigabytes of pixels.
        if (gif.screenWidth() > maxTileSide || gif.screenHeight() > maxTileSide) {
            leaveOut(name, QStringLiteral("its picture declares %1 x %2 pixels, more than the %3 x "
                                          "%3 of any tile")
                               .arg(gif.screenWidth())
                               .arg(gif.screenHeight())
                               .arg(maxTileSide));
            continue;
        }
        tile.width = gif.screenWidth();
        tile.height = gif.screenHeight();
        tile.mapType = type;
        tile.zoom = centre->zoom;
        tile.nameCentre = {.latitude = centre->latitude, .longitude = centre->longitude};
        QFile world(worldPath);
        if (world.open(QIODevice::ReadOnly)) {
            tile.place = common::readWorldFile(world.read(1000));
            if (const auto problem = tile.place ? worldProblem(*tile.place, tile) : std::nullopt) {
                scan.warnings.append(name + QStringLiteral(": ") + *problem +
                                     QStringLiteral("; its name places it"));
                tile.place.reset();
            }
        }
        QFile aux(common::auxFilePath(tile.path));
        if (aux.open(QIODevice::ReadOnly)) {
            const QByteArray text = aux.read(qint64{64} * 1024);
            tile.credit = common::readAuxCredit(text);
            tile.source = common::readAuxSource(text);
        }
        scan.tiles.push_back(tile);
    }
    // Whole blocks may still hold data that do not decode: each tile is decoded once, on the
    // global thread pool, and those that fail are left out.
    std::atomic<int> decoded{0};
    std::atomic<bool> stop{false};
    const int tiles = static_cast<int>(scan.tiles.size());
    const auto problems = QtConcurrent::blockingMapped<std::vector<std::optional<QString>>>(
        scan.tiles, [&](const Tile& tile) -> std::optional<QString> {
            if (stop.load()) {
                return QStringLiteral("not read: stopped");
            }
            auto problem = decodeProblem(tile.path);
            if (progress && !progress(++decoded, tiles)) {
                stop.store(true);
            }
            return problem;
        });
    scan.stopped = stop.load();
    std::vector<Tile> decodable;
    decodable.reserve(scan.tiles.size());
    for (std::size_t i = 0; i < problems.size(); ++i) {
        Tile& tile = scan.tiles[i];
        if (problems[i]) {
            leaveOut(QFileInfo(tile.path).fileName(),
                     QStringLiteral("its picture cannot be decoded: ") + *problems[i]);
        } else {
            decodable.push_back(std::move(tile));
        }
    }
    scan.tiles = std::move(decodable);
    // Tiles stored before sources were recorded join the one source their kind records.
    std::map<std::pair<double, int>, std::set<QString>> recorded;
    for (const Tile& tile : scan.tiles) {
        if (!tile.source.isEmpty()) {
            recorded[{tile.zoom, tile.mapType}].insert(tile.source);
        }
    }
    for (Tile& tile : scan.tiles) {
        const auto kind = recorded.find({tile.zoom, tile.mapType});
        if (tile.source.isEmpty() && kind != recorded.end() && kind->second.size() == 1) {
            tile.source = *kind->second.begin();
        }
    }
    return scan;
}

namespace {

// The starts of a grid of |step| that put every line within its interval, numbering the lines
// by |step| from the first; empty (from > to) when there are none.
struct Starts {
    double from, to;
    std::vector<double> k;
    bool any() const { return from <= to; }
};

Starts startsFor(const std::vector<double>& low, double step)
{
    Starts s{-HUGE_VAL, HUGE_VAL, std::vector<double>(low.size(), 0)};
    for (std::size_t i = 0; i < low.size(); ++i) {
        s.k[i] = std::round((low[i] - low[0]) / step);
        s.from = std::max(s.from, low[i] - s.k[i] * step);
        s.to = std::min(s.to, low[i] + cutWidth - s.k[i] * step);
    }
    return s;
}

// The step that least squares fit to the middles of the intervals.
double fittedStep(const std::vector<double>& low)
{
    double gap = HUGE_VAL;
    for (std::size_t i = 1; i < low.size(); ++i) {
        gap = std::min(gap, low[i] - low[i - 1]);
    }
    double step = gap;
    for (int round = 0; round < 3; ++round) {
        double n = 0, sk = 0, sm = 0, skk = 0, skm = 0;
        for (const double l : low) {
            const double k = std::round((l - low[0]) / step);
            const double middle = l + cutWidth / 2;
            n += 1;
            sk += k;
            sm += middle;
            skk += k * k;
            skm += k * middle;
        }
        step = (n * skm - sk * sm) / (n * skk - sk * sk);
    }
    return step;
}

} // namespace

std::vector<double> snapToGrid(const std::vector<double>& cutValues, double zoom)
{
    const std::set<double> lineSet(cutValues.begin(), cutValues.end());
    const std::vector<double> lines(lineSet.begin(), lineSet.end());
    std::vector<double> low;
    low.reserve(lines.size());
    for (const double line : lines) {
        low.push_back(lowEnd(line));
    }
    // The downloader's steps are zoom / k for a whole offset k, 45 unless the user chose
    // another: 45 first, then the whole k whose step is nearest the fitted one.
    double step = zoom / 45;
    Starts starts = startsFor(low, step);
    if (lines.size() > 1 && !starts.any()) {
        const double fitted = fittedStep(low);
        const double nearest = std::max(1.0, std::round(zoom / fitted));
        bool found = false;
        for (int distance = 0; distance < 50 && !found; ++distance) {
            for (const double k : {nearest - distance, nearest + distance}) {
                if (k >= 1 && !found) {
                    starts = startsFor(low, zoom / k);
                    found = starts.any();
                    step = zoom / k;
                }
            }
        }
        if (!found) { // no whole offset fits: the fitted step, as near as it goes
            step = fitted;
            starts = startsFor(low, step);
        }
    }
    // Their middle; when no start fits, the middle of the two ends.
    double start = (starts.from + starts.to) / 2;
    if (starts.any()) {
        // Regions begin on round coordinates (from zoom 20 on, whole degrees) and the
        // downloader shifts every centre by a millionth of a degree: a start that puts a line
        // there is the likely one; whole degrees first, then hundredths.
        bool found = false;
        for (const bool whole : {zoom >= 20, false}) {
            for (std::size_t i = 0; i < lines.size() && !found; ++i) {
                const double round = whole ? std::floor(low[i]) : low[i];
                const double candidate = round + 1e-6 - starts.k[i] * step;
                if (candidate >= starts.from && candidate <= starts.to) {
                    start = candidate;
                    found = true;
                }
            }
        }
    }
    std::map<double, double> snapped;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        snapped[lines[i]] = std::clamp(start + starts.k[i] * step, low[i], low[i] + cutWidth);
    }
    std::vector<double> out;
    out.reserve(cutValues.size());
    for (const double value : cutValues) {
        out.push_back(snapped[value]);
    }
    return out;
}

std::vector<Centre> exactCentres(const std::vector<Tile>& tiles)
{
    std::vector<double> latitudes;
    std::vector<double> longitudes;
    for (const Tile& tile : tiles) {
        if (!tile.place) {
            latitudes.push_back(tile.nameCentre.latitude);
            longitudes.push_back(tile.nameCentre.longitude);
        }
    }
    // The tiles of an export share one zoom.
    const double zoom = tiles.empty() ? 45 : tiles.front().zoom;
    const std::vector<double> snappedLat =
        latitudes.empty() ? latitudes : snapToGrid(latitudes, zoom);
    const std::vector<double> snappedLon =
        longitudes.empty() ? longitudes : snapToGrid(longitudes, zoom);
    std::vector<Centre> centres;
    std::size_t next = 0;
    for (const Tile& tile : tiles) {
        if (tile.place) {
            const common::GeoTransform& t = *tile.place;
            centres.push_back({t[3] + t[5] * tile.height / 2, t[0] + t[1] * tile.width / 2});
        } else {
            centres.push_back({snappedLat[next], snappedLon[next]});
            ++next;
        }
    }
    return centres;
}

} // namespace mapexport
