#pragma once

#include "mapservice/draw/render.h"

#include <string>

namespace mapservice {

// The shoreline data of this machine, read once for all tests.
inline const ShoreData& testShores()
{
    static const ShoreFiles files = loadShoreFiles(MAPSERVICE_DATA_DIR);
    static const ShoreData data = shoreData(files);
    return data;
}

} // namespace mapservice
