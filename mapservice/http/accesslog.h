#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace mapservice {

// What the access log keeps of one request.
struct AccessRecord {
    std::chrono::system_clock::time_point time; // when its first byte arrived
    std::string client;                         // the client's address
    std::string method;
    std::string target; // path with query, as sent
    int status = 0;
    std::size_t bodyBytes = 0; // of the answer, as sent
    double milliseconds = 0;   // from the first byte to the last of the answer
};

// One line of the access log, without the line end: the fields above separated by tabs, the time
// in UTC as ISO 8601 to the millisecond, and control characters and tabs in the client's text
// replaced by '?', so that a line is always one line of seven fields.
std::string accessLogLine(const AccessRecord& record);

} // namespace mapservice
