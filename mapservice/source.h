#pragma once

#include "common/result.h"
#include "mapservice/image.h"
#include "mapservice/render.h"
#include "mapservice/request.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace mapservice {

// How long a picture is wanted: what it needs from elsewhere is fetched until |deadline|, or
// until |abandoned| is set (its client has gone, or the picture has failed already).
struct Wanted {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::shared_ptr<std::atomic<bool>> abandoned = std::make_shared<std::atomic<bool>>(false);
    bool over() const { return *abandoned || std::chrono::steady_clock::now() >= deadline; }
};

// What a picture needs from elsewhere (upstream tiles on disk), fetched before a drawing thread
// takes the picture.
class Gathered {
public:
    virtual ~Gathered() = default;
    // When the picture must be drawn by: past it, drawing it stops and the picture fails as
    // timed out, so that no picture holds a drawing thread longer than its sources may take.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    bool late() const { return std::chrono::steady_clock::now() > deadline; }
};
using GatheredPtr = std::shared_ptr<const Gathered>;
using Gathering = std::function<void(common::Result<GatheredPtr>)>;

// Where map pictures come from. A source draws the picture of a request in the request's own
// geometry (see geometry.h); it may be asked from several threads at once. A source that needs
// something from elsewhere gathers it first without holding a thread, then draws from it.
class Source {
public:
    virtual ~Source() = default;

    // Starts fetching what the picture of |request| needs; |done| is called once, on any
    // thread, perhaps before gather returns. A source that needs nothing gives nothing at once.
    virtual void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const;

    // Draws the picture from what gather gave.
    virtual common::Result<Picture> drawGathered(const MapRequest& request,
                                                 const Gathered* gathered) const;

    // Gathers, waits for it and draws: for callers that may wait.
    virtual common::Result<Picture> draw(const MapRequest& request) const = 0;
};

// Source::draw for a source that gathers: gather, wait on this thread, drawGathered.
common::Result<Picture> gatherAndDraw(const Source& source, const MapRequest& request);

// The credit of the drawn map: its shoreline data.
constexpr const char* drawnCredit = "Shorelines: GSHHG";

// The map drawn from the shoreline data: land, lakes, graticule and legend. Its credit is the
// request's attribution, else drawnCredit.
class DrawnSource : public Source {
public:
    explicit DrawnSource(const ShoreData& shores) : shores_(shores) {}
    common::Result<Picture> draw(const MapRequest& request) const override;

private:
    ShoreData shores_;
};

} // namespace mapservice
