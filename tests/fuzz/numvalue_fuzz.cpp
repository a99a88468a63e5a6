// numvalue on any text: never crashes, always gives a finite number.
#include "common/numvalue.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!std::isfinite(common::numvalue(text))) {
        std::abort();
    }
    return 0;
}
