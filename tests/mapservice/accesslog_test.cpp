#include "mapservice/http/accesslog.h"

#include <gtest/gtest.h>

namespace {

using mapservice::accessLogLine;
using mapservice::AccessRecord;

std::chrono::system_clock::time_point at(long long millisecondsSinceEpoch)
{
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(millisecondsSinceEpoch));
}

TEST(AccessLog, OneLineOfSevenTabSeparatedFields)
{
    const struct {
        AccessRecord record;
        const char* line;
    } cases[] = {
        {{at(0), "127.0.0.1", "GET", "/pub/agent.dll?CenP=1,1", 200, 1234, 12.25},
         "1970-01-01T00:00:00.000Z\t127.0.0.1\tGET\t/pub/agent.dll?CenP=1,1\t200\t1234\t12.2"},
        // 2026-12-07 23:59:59.999, the last millisecond of a day
        {{at(1796687999999), "::1", "HEAD", "/", 404, 0, 0},
         "2026-12-07T23:59:59.999Z\t::1\tHEAD\t/\t404\t0\t0.0"},
        // a leap day
        {{at(1709164800123), "10.0.0.7", "GET", "/x", 503, 43, 1500.04},
         "2024-02-29T00:00:00.123Z\t10.0.0.7\tGET\t/x\t503\t43\t1500.0"},
        // what the client sent cannot break the line or add a field
        {{at(0), "127.0.0.2", "G\tT", "/a\tb\r\nc\x7f", 400, 5, 1},
         "1970-01-01T00:00:00.000Z\t127.0.0.2\tG?T\t/a?b??c?\t400\t5\t1.0"},
        // nor reorder it (a right-to-left override, a C1 control, an isolate), while other
        // UTF-8 stays
        {{at(0), "127.0.0.2", "GET", "/\u202Egpj.exe\u0085\u2066x\u00e9", 404, 0, 0},
         "1970-01-01T00:00:00.000Z\t127.0.0.2\tGET\t/?gpj.exe??x\u00e9\t404\t0\t0.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(accessLogLine(c.record), c.line);
    }
}

} // namespace
