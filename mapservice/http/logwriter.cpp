#include "mapservice/http/logwriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace mapservice {

LogWriter::LogWriter(int fd, std::size_t capacity)
    : fd_(fd), capacity_(capacity), thread_([this] { run(); })
{}

LogWriter::~LogWriter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    waiting_.notify_one();
    thread_.join();
}

void LogWriter::add(std::string line)
{
    {
        const std::lock_guard lock(mutex_);
        if (lines_.size() >= capacity_) {
            ++dropped_;
            return;
        }
        lines_.push_back(std::move(line));
    }
    waiting_.notify_one();
}

void LogWriter::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        waiting_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
        if (lines_.empty()) {
            return; // stopping, and everything written
        }
        std::string text;
        while (!lines_.empty()) {
            text += lines_.front();
            text += '\n';
            lines_.pop_front();
        }
        const std::size_t dropped = dropped_;
        dropped_ = 0;
        const bool stopping = stopping_;
        lock.unlock();
        // Lines dropped while these waited are told after them, when writing works again.
        if (dropped > 0) {
            text += "mapservice: " + std::to_string(dropped) + " log lines dropped\n";
        }
        const bool written = writeAll(text);
        lock.lock();
        if (stopping && !written) {
            return;
        }
    }
}

// Waits for the descriptor to take bytes, a second at a time, so that a stop is noticed while
// the reader is stuck; false when the lines are lost.
bool LogWriter::writeAll(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        pollfd ready{fd_, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 1000);
        if (polled == 0) {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return false;
            }
            continue;
        }
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        // A writable pipe takes PIPE_BUF bytes without blocking; more might block.
        const std::size_t chunk = std::min<std::size_t>(text.size() - done, PIPE_BUF);
        const ssize_t n = ::write(fd_, text.data() + done, chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false; // the reader has gone: these lines are lost
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace mapservice
