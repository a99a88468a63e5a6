#pragma once

// What every operation of the suite that can fail gives back: its value, or an Error. Plain
// C++ (no Qt), so that the map service and the exporter use the same type as the windows.
// Exceptions are caught where a library throws them and turned into an Error there.
#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace common {

enum class ErrorKind {
    BadInput,  // what was given or asked for is malformed or out of range
    NotFound,  // what was named does not exist
    Passing,   // may well succeed when tried again: no connection, a server error
    Permanent, // will fail the same way again
    TimedOut,  // no answer within the time allowed
    NotPlaced, // stored, but what places it (a file beside it) could not be written
};

struct Error {
    ErrorKind kind = ErrorKind::Permanent;
    // One line for the user, UTF-8.
    std::string text;
    // The HTTP status or the exit status that goes with the error; 0 where none applies.
    int status = 0;

    // Whether trying the same thing again may help.
    bool worthRetry() const { return kind == ErrorKind::Passing || kind == ErrorKind::TimedOut; }
};

inline Error badInput(std::string text, int status = 0)
{
    return {ErrorKind::BadInput, std::move(text), status};
}

inline Error notFound(std::string text, int status = 0)
{
    return {ErrorKind::NotFound, std::move(text), status};
}

inline Error passing(std::string text, int status = 0)
{
    return {ErrorKind::Passing, std::move(text), status};
}

inline Error permanent(std::string text, int status = 0)
{
    return {ErrorKind::Permanent, std::move(text), status};
}

inline Error timedOut(std::string text, int status = 0)
{
    return {ErrorKind::TimedOut, std::move(text), status};
}

// A value of type T, or the Error that kept it from being made.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() &
    {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const&
    {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() &&
    {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const
    {
        assert(!ok());
        return std::get<1>(state_);
    }

private:
    std::variant<T, Error> state_;
};

// An operation that gives nothing but success or an Error.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    const Error& error() const
    {
        assert(!ok());
        return *error_;
    }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

} // namespace common
