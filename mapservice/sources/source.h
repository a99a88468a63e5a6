#pragma once

#include "common/result.h"
#include "mapservice/draw/image.h"
#include "mapservice/draw/render.h"
#include "mapservice/network/wanted.h"
#include "mapservice/protocol/request.h"
#include "mapservice/protocol/tileask.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace boost::asio {
class io_context;
} // namespace boost::asio

namespace mapservice {

// What an answer may be cached by: what identifies the picture's content besides the request
// (the source, and what it drew from), how many seconds the picture stays fresh and when what
// it shows last changed, where that is known.
struct Freshness {
    explicit Freshness(std::string identity = {}) : identity(std::move(identity)) {}
    std::string identity;
    // The part of it that drawing may find otherwise (a local file replaced in between); the
    // picture's own Picture::drawnFrom takes its place.
    std::string drawnFrom;
    std::int64_t maxAgeSeconds = std::int64_t{24} * 3600;
    std::optional<std::time_t> lastModified;
};

// What a picture needs from elsewhere (upstream tiles on disk), fetched before a drawing thread
// takes the picture.
class Gathered {
public:
    virtual ~Gathered() = default;
    // When the picture must be drawn by: past it, drawing it stops and the picture fails as
    // timed out, so that no picture holds a drawing thread longer than its sources may take.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    const Clock* clock = &realClock(); // whose time |deadline| is
    bool late() const { return clock->steady() > deadline; }
    // Lays what was fetched from |host| over |out|, the picture of |g| under |legend|; the error
    // is what failed, a time-out once |halt| says so between tiles or strips.
    virtual common::Status lay(const std::string& host, const Geometry& g, const Legend& legend,
                               RgbImage& out, const Halt& halt) const = 0;
    // The cached files it was gathered from.
    virtual std::vector<std::string> fetchedFiles() const = 0;
    // What must stay while it is drawn: the files of answers that may not be cached, which go
    // when the last picture that reads them has been drawn or given up.
    std::vector<std::shared_ptr<const void>> kept;
};
using GatheredPtr = std::shared_ptr<const Gathered>;
using Gathering = std::function<void(common::Result<GatheredPtr>)>;

// A tile fetched to be served as it is: its cached file, none when the upstream has no such
// tile (the tile is then drawn from the drawn map alone).
struct PassedTile : Gathered {
    std::string file;
    common::Status lay(const std::string& /*host*/, const Geometry& /*g*/, const Legend& /*legend*/,
                       RgbImage& /*out*/, const Halt& /*halt*/) const override
    {
        return {};
    }
    std::vector<std::string> fetchedFiles() const override
    {
        return file.empty() ? std::vector<std::string>{} : std::vector<std::string>{file};
    }
};

// A map code as the service's tiles and documents show it: its title, its credit and the finest
// zoom its tiles are drawn at.
struct MapLayer {
    std::string code;
    std::string title;
    std::string credit;
    int maxZoom = 19;
};

// Where map pictures come from. A source draws the picture of a request in the request's own
// geometry (see geometry.h). A source that needs something from elsewhere gathers it first on
// the service's loop, without holding a thread, then draws from it on a drawing thread, several
// pictures at once.
class Source {
public:
    virtual ~Source() = default;

    // Starts fetching what the picture of |request| needs. Called on the loop of the network
    // the source was made with, and |done| is called once, on that loop too, or at once, before
    // gather returns, by a source that needs nothing (which gives nothing).
    virtual void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const;

    // Draws the picture from what gather gave; on a drawing thread. Stops between its steps
    // once |halt| says so, with an error.
    virtual common::Result<Picture>
    drawGathered(const MapRequest& request, const Gathered* gathered, const Halt& halt) const = 0;

    // What the picture of |request|, from what gather gave, may be cached by; cheap, with no
    // drawing. By default: nothing beyond the request identifies it, fresh for a day.
    virtual Freshness freshness(const MapRequest& request, const Gathered* gathered) const;

    // What names the source of |request|'s map code as it is set up, the same for every picture
    // of it and another when it is set up otherwise: 16 hex digits, sent as Map-Source, so that
    // a downloader keeps tiles of different sources apart. Empty: not told.
    virtual std::string sourceIdentity(const MapRequest& /*request*/) const { return {}; }

    // Whether |tile| of the service's grid is a tile its upstream serves as it is: the same
    // zoom and numbers, 256 pixels, the same format. No, by default.
    virtual bool passesTile(const TileAsk& /*tile*/) const { return false; }
    // Gathers such a tile as a PassedTile, on the loop as gather does.
    virtual void gatherTile(const TileAsk& tile, const Wanted& wanted, Gathering done) const;

    // The map codes it answers: by default the four the downloader asks for, without credit.
    virtual std::vector<MapLayer> layers() const;
};

// The four map codes, each with its title.
std::vector<MapLayer> standardLayers();

// What a drawing that |halt| stopped gives.
common::Error haltedError();

} // namespace mapservice
