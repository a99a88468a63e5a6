#pragma once

// An HTTP server on 127.0.0.1 for tests and benchmarks, serving on a thread of its own.
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace testsupport {

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

    // Binds to a port the system chooses and serves; returns once it listens, since stopping
    // a server that has not started listening yet would hang its thread.
    void start()
    {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace testsupport
