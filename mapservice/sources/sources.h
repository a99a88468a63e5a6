#pragma once

#include "mapservice/draw/render.h"
#include "mapservice/sources/drawnsource.h"
#include "mapservice/sources/remotesource.h"
#include "mapservice/sources/source.h"
#include "mapservice/sources/sourceconfig.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mapservice {

struct Dialect;

// The sources of the map codes, as the options set them (see SourceConfigs): a request is drawn
// by its code's source, else by the one for every code, else by the drawn map.
class SourceTable : public Source {
public:
    SourceTable(const ShoreData& shores, RemoteOptions options);
    ~SourceTable() override;

    // Makes the sources |configs| name, in place of any made before: one for every code, and one
    // for each set of codes with a --source of their own (codes whose source, headers and rate
    // are the same share one). A --source SPEC is "drawn", a remote source ("xyz:URL",
    // "tms:URL", "wms:URL", "wmts:URL", "arcgis:URL", see Dialect) or anything GDAL opens as a
    // raster; local files are opened now, remote sources are not contacted. A refusal (status
    // 2) names the --source argument and says what is wrong. The credit, legend and finest zoom
    // of a code are its own, else those for every code (a code with a source of its own takes
    // no credit for every code: it is another map); its requests carry the headers for every
    // code and its own, and go no faster than the lower of the two rates.
    common::Status use(const SourceConfigs& configs);

    // One more option's argument (see SourceConfigs::take), and the sources made anew: the
    // sources are made from everything taken so far, so the order of the options does not
    // matter. An argument refused, or whose source cannot be made, leaves the table as it was.
    common::Status take(const std::string& option, const std::string& argument);
    // take("--source", ...), take("--attribution", ...) and so on.
    common::Status add(const std::string& argument) { return take("--source", argument); }
    void addAttribution(const std::string& argument)
    {
        static_cast<void>(take("--attribution", argument)); // any text is a credit
    }
    common::Status addLegend(const std::string& argument) { return take("--legend", argument); }
    common::Status addMaxZoom(const std::string& argument) { return take("--max-zoom", argument); }
    common::Status addHeader(const std::string& argument) { return take("--header", argument); }
    common::Status addMaxRate(const std::string& argument) { return take("--max-rate", argument); }

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
    common::Result<const Source*> make(const std::string& spec, Manners manners);
    // |text|: what follows the dialect's ':'.
    common::Result<const Source*> makeRemote(const Dialect& dialect, const std::string& text,
                                             Manners manners);
    // The source of a request's code and the request as the service completes it: legend,
    // credit and finest zoom.
    std::pair<const Source*, MapRequest> route(const MapRequest& request) const;

    const ShoreData shores_;
    RemoteOptions options_;
    DrawnSource drawn_;
    SourceConfigs configs_;
    std::vector<std::unique_ptr<Source>> owned_;
    const Source* general_ = nullptr;
    std::map<std::string, const Source*> byCode_;
    std::map<const Source*, std::string> specs_; // as given to --source
    std::unique_ptr<Upstreams> upstreams_;       // made with the first remote source
};

} // namespace mapservice
