#pragma once

#include "mapservice/draw/render.h"
#include "mapservice/sources/drawnsource.h"
#include "mapservice/sources/remotesource.h"
#include "mapservice/sources/source.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mapservice {

struct Dialect;

// The sources of the map codes, as the command line sets them ("--source SPEC" for every code,
// "--source CODE=SPEC" for one, overriding): a request is drawn by its code's source, else by
// the general one, else by the drawn map.
class SourceTable : public Source {
public:
    SourceTable(const ShoreData& shores, RemoteOptions options);
    ~SourceTable() override;

    // Takes one "--source" argument: SPEC or CODE=SPEC, CODE one of EUR0407, USA407, EURO809,
    // WLD0407, type1 (the first three) and type2 (WLD0407). SPEC is "drawn", a remote source
    // ("xyz:URL", "tms:URL", "wms:URL", "wmts:URL", "arcgis:URL", see Dialect) or anything GDAL
    // opens as a raster; local files are opened now, remote sources are not contacted. A refusal
    // names the argument and says what is wrong.
    common::Status add(const std::string& argument);

    // Takes one "--attribution" argument: TEXT or CODE=TEXT, the credit that the legend of the
    // general source's pictures, or of one code's, names. Without it a source's own metadata
    // names its credit, where it has one.
    void addAttribution(const std::string& argument);

    // Takes one "--legend" argument: full or none, or CODE=full|none: whether the pictures of
    // every code, or of one, carry the legend box. Without it the drawn map has its legend and
    // a real source none (its credit goes in the Map-Credit header).
    common::Status addLegend(const std::string& argument);

    // Takes one "--max-zoom" argument: Z or CODE=Z, the finest zoom asked of the tile server
    // of every code, or of one (0 to 24).
    common::Status addMaxZoom(const std::string& argument);

    // Takes one "--header" argument: "Name: value" or CODE="Name: value", a header line sent
    // with every request to the remote source of every code, or of one. Host and User-Agent,
    // which the service sets, and the caching headers, which it leaves alone, are refused, and
    // so is a line that is no header. Before the sources are added.
    common::Status addHeader(const std::string& argument);

    // Takes one "--max-rate" argument: N or CODE=N, the most requests a second (above 0, at
    // most 1000) started to the remote source of every code, or of one. Before the sources are
    // added.
    common::Status addMaxRate(const std::string& argument);

    void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const override;
    common::Result<Picture> drawGathered(const MapRequest& request, const Gathered* gathered,
                                         const Halt& halt) const override;
    // The freshness of the request's source, identified by the request as the service
    // completes it (legend, credit, finest zoom) too.
    Freshness freshness(const MapRequest& request, const Gathered* gathered) const override;
    // A hash of the code's source as given to --source ("drawn" for the drawn map), without
    // its --header lines, which may hold a key, and without the service's version.
    std::string sourceIdentity(const MapRequest& request) const override;
    bool passesTile(const TileAsk& tile) const override;
    void gatherTile(const TileAsk& tile, const Wanted& wanted, Gathering done) const override;
    // The four codes with the credit and finest zoom of each one's source.
    std::vector<MapLayer> layers() const override;

private:
    // |codes|: those it serves; none for the general source.
    common::Result<const Source*> make(const std::string& spec,
                                       const std::vector<std::string>& codes);
    // |text|: what follows the dialect's ':'.
    common::Result<const Source*> makeRemote(const Dialect& dialect, const std::string& text,
                                             Manners manners);
    // The source of a request's code and the request as the service completes it: legend,
    // credit and finest zoom.
    std::pair<const Source*, MapRequest> route(const MapRequest& request) const;

    const ShoreData shores_;
    RemoteOptions options_;
    DrawnSource drawn_;
    std::vector<std::unique_ptr<Source>> owned_;
    const Source* general_ = nullptr;
    std::map<std::string, const Source*> byCode_;
    std::map<const Source*, std::string> specs_; // as given to --source
    std::string generalAttribution_;
    std::optional<bool> generalLegend_;
    std::map<std::string, bool> legendByCode_;
    std::map<std::string, std::string> attributionByCode_;
    std::map<std::string, int> maxZoomByCode_;
    std::vector<std::string> generalHeaders_;
    std::map<std::string, std::vector<std::string>> headersByCode_;
    double generalMaxRate_ = 0;
    std::map<std::string, double> maxRateByCode_;
    std::unique_ptr<Upstreams> upstreams_; // made with the first remote source
};

} // namespace mapservice
