#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

// The local map service as a process of its own, beside the benchmark's executable, on a port
// the system chooses; stopped with SIGTERM when the object goes.
class ServiceProcess {
public:
    // |arguments| go to the service after "--port 0".
    explicit ServiceProcess(const char* argv0, std::vector<std::string> arguments = {})
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
            std::vector<char*> args{const_cast<char*>(binary.c_str()), const_cast<char*>("--port"),
                                    const_cast<char*>("0")};
            for (std::string& argument : arguments) {
                args.push_back(argument.data());
            }
            args.push_back(nullptr);
            execv(binary.c_str(), args.data());
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
    // The most memory it has held so far, in megabytes (VmHWM).
    double peakMegabytes() const
    {
        FILE* status = std::fopen(("/proc/" + std::to_string(child_) + "/status").c_str(), "r");
        char line[256];
        double kilobytes = 0;
        while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
            std::sscanf(line, "VmHWM: %lf kB", &kilobytes);
        }
        if (status != nullptr) {
            std::fclose(status);
        }
        return kilobytes / 1024;
    }

private:
    pid_t child_ = -1;
    int port_ = 0;
};

} // namespace bench
