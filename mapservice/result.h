#pragma once

#include <string>
#include <variant>

namespace mapservice {

// Why the service cannot give what was asked for: the HTTP status of its answer and a one-line
// reason for the client.
struct Refusal {
    int status = 500;
    std::string reason;
};

// What every step of answering a request gives: its value, or why there is none. Exceptions
// from libraries are turned into a Refusal where the answer is made (answer.cpp), nowhere else.
template <typename T> using Result = std::variant<T, Refusal>;

} // namespace mapservice
