#pragma once

// An HTTP server on 127.0.0.1 for tests and benchmarks, serving on a thread of its own.
#include <httplib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

// A port on 127.0.0.1 that is free now, for a server of another program to listen on. It is
// drawn from below the kernel's range of ephemeral ports: a port from that range may be taken
// by any test's outgoing connection before the other program binds it.
inline int freeLoopbackPort()
{
    int low = 32768;
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    if (int first = 0; range >> first) {
        low = std::max(first, 2048);
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> below(1024, low - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int port = below(random);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (free) {
            return port;
        }
    }
    return 0;
}

// Set up the handlers on server(), then start(); the destructor stops it.
class LoopbackServer {
public:
    LoopbackServer() = default;
    ~LoopbackServer()
    {
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return server_; }

    // Binds to a port the system chooses on |address| (127.0.0.2 plays another host) and
    // serves; returns once it listens, since stopping a server that has not started listening
    // yet would hang its thread.
    void start(const std::string& address = "127.0.0.1")
    {
        address_ = address;
        port_ = server_.bind_to_any_port(address);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int port() const { return port_; }
    std::string url() const { return "http://" + address_ + ":" + std::to_string(port_); }

private:
    httplib::Server server_;
    std::string address_ = "127.0.0.1";
    int port_ = 0;
    std::thread thread_;
};

} // namespace testsupport
