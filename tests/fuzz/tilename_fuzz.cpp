// The tile name reader on any name: never crashes; whatever it reads is finite.
#include "common/tilenamereader.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString name =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto centre = common::readTileName(name)) {
        if (!std::isfinite(centre->latitude) || !std::isfinite(centre->longitude) ||
            !std::isfinite(centre->zoom)) {
            std::abort();
        }
    }
    return 0;
}
