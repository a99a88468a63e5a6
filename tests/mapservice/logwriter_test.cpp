#include "mapservice/http/logwriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Reads what |fd| holds until |wanted| appears or five seconds pass.
std::string readUntil(int fd, const std::string& wanted)
{
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char buffer[65536];
    while (text.find(wanted) == std::string::npos && Clock::now() < deadline) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else {
            usleep(1000);
        }
    }
    return text;
}

TEST(LogWriter, AReaderThatStallsCostsLinesNotTheWriter)
{
    std::signal(SIGPIPE, SIG_IGN); // as the service does
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    {
        mapservice::LogWriter log(ends[1], 1000);
        for (int i = 0; i < 20'000; ++i) {
            log.add("request " + std::to_string(i) + std::string(60, '.'));
        }
        // Nobody read meanwhile: had adding waited for the pipe, it would not have ended, and
        // the lines the pipe could not hold are told as dropped.
        const std::string text = readUntil(ends[0], "log lines dropped\n");
        EXPECT_NE(text.find("request 0."), std::string::npos);
        EXPECT_NE(text.find("log lines dropped\n"), std::string::npos) << text.size();
        log.add("after");
        EXPECT_NE(readUntil(ends[0], "after\n").find("after\n"), std::string::npos);
        ::close(ends[0]); // the reader goes: the next lines are lost, the writer stays
        log.add("to nobody");
    }
    ::close(ends[1]);
}

} // namespace
