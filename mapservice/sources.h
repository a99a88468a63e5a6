#pragma once

#include "mapservice/render.h"
#include "mapservice/source.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mapservice {

// What the remote sources share: where upstream tiles are cached, the finest tile zoom asked
// for and how the service introduces itself.
struct RemoteOptions {
    std::string cacheFolder;
    int maxZoom = 19;
    std::string userAgent;
    int cacheMaxMegabytes = 2048; // GDAL's cache cleaner keeps the folder below this
    int timeoutSeconds = 30;      // for one upstream request
};

// A GDAL WMS service description for a slippy-map tile server in Web Mercator with 256-pixel
// tiles; |url| holds {z}, {x} and {y}.
std::string xyzDescription(const std::string& url, const RemoteOptions& options);

// A GDAL WMS service description for the WMS GetMap endpoint |url|, which names at least the
// layer (LAYERS=...); pictures are asked for in geographic coordinates.
std::string wmsDescription(const std::string& url, const RemoteOptions& options);

// The sources of the map codes, as the command line sets them ("--source SPEC" for every code,
// "--source CODE=SPEC" for one, overriding): a request is drawn by its code's source, else by
// the general one, else by the drawn map.
class SourceTable : public Source {
public:
    SourceTable(const ShoreData& shores, RemoteOptions options);
    ~SourceTable() override;

    // Takes one "--source" argument: SPEC or CODE=SPEC, CODE one of EUR0407, USA407, EURO809,
    // WLD0407, type1 (the first three) and type2 (WLD0407). SPEC is "drawn", "xyz:URL",
    // "wms:URL" or anything GDAL opens as a raster; local files are opened now, remote sources
    // are not contacted. A refusal names the argument and says what is wrong.
    common::Status add(const std::string& argument);

    // Takes one "--attribution" argument: TEXT or CODE=TEXT, the credit that the legend of the
    // general source's pictures, or of one code's, names. Without it a source's own metadata
    // names its credit, where it has one.
    void addAttribution(const std::string& argument);

    // Takes one "--legend" argument: full or none, or CODE=full|none: whether the pictures of
    // every code, or of one, carry the legend box. Without it the drawn map has its legend and
    // a real source none (its credit goes in the Map-Credit header).
    common::Status addLegend(const std::string& argument);

    common::Result<Picture> draw(const MapRequest& request) const override;

private:
    common::Result<const Source*> make(const std::string& spec);

    const ShoreData shores_;
    RemoteOptions options_;
    DrawnSource drawn_;
    std::vector<std::unique_ptr<Source>> owned_;
    const Source* general_ = nullptr;
    std::map<std::string, const Source*> byCode_;
    std::string generalAttribution_;
    std::optional<bool> generalLegend_;
    std::map<std::string, bool> legendByCode_;
    std::map<std::string, std::string> attributionByCode_;
};

} // namespace mapservice
