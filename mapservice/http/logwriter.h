#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace mapservice {

// Writes lines to a file descriptor on a thread of its own, so that whoever adds a line never
// waits for the reader: while the descriptor does not take them (a pipe nobody reads), up to
// |capacity| lines wait, further ones are dropped, and once writing goes on a line tells how
// many were lost. A reader that has gone (EPIPE, with SIGPIPE ignored) costs the lines.
class LogWriter {
public:
    explicit LogWriter(int fd, std::size_t capacity = 10'000);
    // Writes what waits, unless the descriptor blocks: a stuck reader does not stop the end.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Adds |line| (without its line end). Never blocks for long.
    void add(std::string line);

private:
    void run();
    bool writeAll(const std::string& text);

    const int fd_;
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable waiting_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace mapservice
