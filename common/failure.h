#pragma once

#include <QString>

#include <exception>
#include <string>

namespace common {

// The one error type of the suite's operations that can fail at run time (a fetch, a file
// write, a picture load). Its text is short and meant for the user; the handler that started
// the operation catches it and shows the text through the dialogs seam.
class Failure : public std::exception {
public:
    // A transient failure (no connection, time-out, a server error) may succeed when tried
    // again; any other will not.
    enum class Kind { Permanent, Transient };

    explicit Failure(QString text, Kind kind = Kind::Permanent)
        : text_(std::move(text)), utf8_(text_.toStdString()), kind_(kind)
    {}

    const QString& text() const noexcept { return text_; }
    bool transient() const noexcept { return kind_ == Kind::Transient; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString text_;
    std::string utf8_;
    Kind kind_;
};

} // namespace common
