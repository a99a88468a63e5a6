#pragma once

// Plain sockets to a loopback server, for tests that need what an HTTP library hides: a
// request sent byte by byte, a connection that says nothing, a client address of its own.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace testsupport {

// A TCP connection to 127.0.0.1:|port| from |source| (any address in 127.0.0.0/8, so that one
// test can stand for many hosts); -1 when it cannot be made. Receiving waits at most
// |timeoutSeconds|.
inline int connectFrom(const char* source, int port, int timeoutSeconds = 20)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    timeval timeout{timeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline int connectTo(int port, int timeoutSeconds = 20)
{
    return connectFrom("127.0.0.1", port, timeoutSeconds);
}

// The length of an answer's body from its Content-Length, once its head is complete.
inline std::optional<std::size_t> bodyLength(const std::string& answer)
{
    const auto head = answer.find("\r\n\r\n");
    if (head == std::string::npos) {
        return std::nullopt;
    }
    const auto field = answer.find("Content-Length: ");
    if (field == std::string::npos || field > head) {
        return 0;
    }
    return std::stoul(answer.substr(field + 16));
}

// Sends |request| whole on |fd| and reads one whole answer: its head and as much body as it
// announces, or what came before the connection closed or the receive timeout.
inline std::string roundTrip(int fd, const std::string& request)
{
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
        const auto length = bodyLength(answer);
        if (length && answer.size() >= answer.find("\r\n\r\n") + 4 + *length) {
            break;
        }
    }
    return answer;
}

// One request on a connection of its own.
inline std::string ask(int port, const std::string& request)
{
    const int fd = connectTo(port);
    if (fd < 0) {
        return {};
    }
    std::string answer = roundTrip(fd, request);
    ::close(fd);
    return answer;
}

// The status of an HTTP/1.1 answer, 0 when it is none.
inline int statusOf(const std::string& answer)
{
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || answer.size() < 12) {
        return 0;
    }
    return std::stoi(answer.substr(9, 3));
}

// Whether the other side has closed |fd| (end of stream or reset), waiting at most |wait|;
// bytes that arrive meanwhile are read and dropped.
inline bool closedByPeer(int fd, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return true;
        }
    }
}

} // namespace testsupport
