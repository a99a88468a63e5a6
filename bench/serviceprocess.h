#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

// The local map service as a process of its own, beside the benchmark's executable, on a port
// the system chooses; stopped with SIGTERM when the object goes.
class ServiceProcess {
public:
    explicit ServiceProcess(const char* argv0)
    {
        const std::string self(argv0);
        const std::string binary = self.substr(0, self.rfind('/')) + "/mapservice";
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            execl(binary.c_str(), binary.c_str(), "--port", "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        char line[256] = {};
        FILE* out = fdopen(pipeFds[0], "r");
        if (out == nullptr || std::fgets(line, sizeof line, out) == nullptr ||
            std::sscanf(line, "mapservice: serving http://127.0.0.1:%d", &port_) != 1) {
            std::fprintf(stderr, "the map service did not start: %s\n", line);
            port_ = 0;
        }
    }
    ~ServiceProcess()
    {
        if (child_ > 0) {
            kill(child_, SIGTERM);
            int status = 0;
            waitpid(child_, &status, 0);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The port it serves on, 0 when it did not start.
    int port() const { return port_; }

private:
    pid_t child_ = -1;
    int port_ = 0;
};

} // namespace bench
