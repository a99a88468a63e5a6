#pragma once

// Clients of the map service process for the soak tests: ordinary ones, many connections from
// several addresses, and waits for the service to close them.
#include "loopbackclient.h"
#include "loopbackserver.h"
#include "serviceprocess.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::string host(int n)
{
    return "127.0.0." + std::to_string(n);
}

inline std::string mapRequest(int width, int height, const char* connection = "keep-alive")
{
    return "GET /pub/agent.dll?CenP=%2048.5,%2011.25&Alti=%20150&Lang=EUR0407&Size=" +
           std::to_string(width) + "," + std::to_string(height) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: " + connection + "\r\n\r\n";
}

// Whether |answer| is a whole GIF of |width| x |height| pixels: the picture asked for, not
// another client's.
inline bool isPicture(const std::string& answer, int width, int height)
{
    const auto body = answer.find("\r\n\r\n");
    if (statusOf(answer) != 200 || body == std::string::npos || answer.size() < body + 14 ||
        answer.compare(body + 4, 4, "GIF8") != 0) {
        return false;
    }
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(answer[body + 4 + i]);
    };
    return byte(6) + 256 * byte(7) == width && byte(8) + 256 * byte(9) == height &&
           answer.size() == body + 4 + *testsupport::bodyLength(answer);
}

// An ordinary client on 127.0.0.1 asking for a small picture every tenth of a second, on a
// connection of its own each time, until it is destroyed.
class OrdinaryClient {
public:
    explicit OrdinaryClient(int port)
        : thread_([this, port] {
              while (!stop_) {
                  const auto start = Clock::now();
                  const int fd = connectFrom("127.0.0.1", port, 10);
                  const bool ok =
                      fd >= 0 && isPicture(roundTrip(fd, mapRequest(256, 256, "close")), 256, 256);
                  if (fd >= 0) {
                      ::close(fd);
                  }
                  const double took = secondsSince(start);
                  {
                      const std::lock_guard lock(mutex_);
                      (ok ? served_ : failed_) += 1;
                      worst_ = std::max(worst_, took);
                  }
                  std::this_thread::sleep_for(100ms);
              }
          })
    {}
    ~OrdinaryClient() { finish(); }
    OrdinaryClient(const OrdinaryClient&) = delete;
    OrdinaryClient& operator=(const OrdinaryClient&) = delete;

    void finish()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int served() const { return served_; }
    int failed() const { return failed_; }
    double worstSeconds() const { return worst_; }

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    int served_ = 0;
    int failed_ = 0;
    double worst_ = 0;
    std::thread thread_;
};

// Opens |count| connections, |perHost| from each address from 127.0.0.|firstHost| on.
inline std::vector<int> openConnections(int port, int count, int perHost, int firstHost)
{
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        fds.push_back(connectFrom(host(firstHost + i / perHost).c_str(), port));
    }
    return fds;
}

// Waits, at most |limit|, until the service has closed every one of |fds|; the seconds after
// |start| at which each was seen closed, -1 for those still open. |eachSecond| runs once a
// second on the ones still open.
inline std::vector<double> waitForClosing(std::vector<int>& fds, Clock::time_point start,
                                          std::chrono::seconds limit,
                                          const std::function<void(int)>& eachSecond = {})
{
    std::vector<double> closedAt(fds.size(), -1);
    for (auto next = Clock::now(); Clock::now() - start < limit; next += 1s) {
        int open = 0;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (closedAt[i] >= 0) {
                continue;
            }
            if (eachSecond) {
                eachSecond(fds[i]);
            }
            if (closedByPeer(fds[i], 0ms)) {
                closedAt[i] = secondsSince(start);
                ::close(fds[i]);
            } else {
                ++open;
            }
        }
        if (open == 0) {
            break;
        }
        std::this_thread::sleep_until(next + 1s);
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (closedAt[i] < 0) {
            ::close(fds[i]);
        }
    }
    return closedAt;
}

inline int countClosed(const std::vector<double>& closedAt)
{
    return static_cast<int>(
        std::count_if(closedAt.begin(), closedAt.end(), [](double t) { return t >= 0; }));
}

} // namespace testsupport
