#include "mapservice/http/accesslog.h"

#include "common/printable.h"

#include <cstdio>
#include <ctime>

namespace mapservice {

namespace {

std::string isoTime(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto since = time.time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(since).count();
    const auto millis = duration_cast<milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

} // namespace

std::string accessLogLine(const AccessRecord& record)
{
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%d\t%zu\t%.1f", record.status, record.bodyBytes,
                  record.milliseconds);
    return isoTime(record.time) + '\t' + record.client + '\t' + common::printable(record.method) +
           '\t' + common::printable(record.target) + '\t' + numbers;
}

} // namespace mapservice
