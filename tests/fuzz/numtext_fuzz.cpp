// numtext, formit and formkomma on any double: no crash, and the texts read back through
// numvalue to the value within the 15 significant digits numtext keeps.
#include "common/numtext.h"
#include "common/numvalue.h"
#include "pinmark/formatting.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void expectReadsBack(const QString& text, double value)
{
    const double read = common::numvalue(text);
    const double tolerance = std::fabs(value) * 1e-14 + 1e-300;
    if (std::fabs(read - value) > tolerance) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < sizeof(double) + 1) {
        return 0;
    }
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const int width = static_cast<std::int8_t>(data[sizeof value]);
    const QString text = common::numtext(value);
    const QString field = pinmark::formit(value, width);
    const QString nine = pinmark::formkomma(value);
    if (!std::isfinite(value) || std::fabs(value) >= 1e300) {
        return 0; // beyond what numvalue can read back; only "no crash" holds here
    }
    expectReadsBack(text, value);
    expectReadsBack(field, value);
    expectReadsBack(nine, value);
    if (field.size() < width || !nine.contains(u'.')) {
        std::abort();
    }
    return 0;
}
