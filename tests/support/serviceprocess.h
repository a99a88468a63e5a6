#pragma once

// The local map service as a process of its own on a loopback port the system chooses, for
// tests and benchmarks; stopped with SIGTERM at the latest when the object goes.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

class ServiceProcess {
public:
    // Starts |binary| with "--port 0" and |arguments|; its standard error goes to |errorFile|
    // when one is named. Returns once it serves, or has failed to.
    explicit ServiceProcess(const std::string& binary, std::vector<std::string> arguments = {},
                            const std::string& errorFile = {})
    {
        // Everything the child needs is made before the fork: after it, only exec.
        std::vector<std::string> all{binary, "--port", "0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        // A user's options file must not change what the tests see.
        std::vector<std::string> environment{"XDG_CONFIG_HOME=/nonexistent/mapsuite-tests"};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (std::string(*variable).rfind("XDG_CONFIG_HOME=", 0) != 0) {
                environment.emplace_back(*variable);
            }
        }
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        const int error = errorFile.empty() ? -1
                                            : open(errorFile.c_str(),
                                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            if (error >= 0) {
                dup2(error, STDERR_FILENO);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(pipeFds[1]);
        if (error >= 0) {
            close(error);
        }
        out_ = fdopen(pipeFds[0], "r");
        char line[256] = {};
        if (out_ == nullptr || std::fgets(line, sizeof line, out_) == nullptr ||
            std::sscanf(line, "mapservice: serving http://127.0.0.1:%d", &port_) != 1) {
            port_ = 0;
        }
    }
    ~ServiceProcess()
    {
        stop();
        if (out_ != nullptr) {
            std::fclose(out_);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // |name| in the folder of the executable |argv0|.
    static std::string beside(const char* argv0, const char* name)
    {
        const std::string self(argv0);
        return self.substr(0, self.rfind('/') + 1) + name;
    }

    // The port it serves on, 0 when it did not start.
    int port() const { return port_; }
    pid_t pid() const { return child_; }

    // Sends SIGTERM and waits for the process to end; the seconds that took.
    double stop()
    {
        if (child_ <= 0) {
            return 0;
        }
        const auto start = std::chrono::steady_clock::now();
        kill(child_, SIGTERM);
        waitpid(child_, &status_, 0);
        child_ = -1;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    // After stop(): whether it ended by itself with status 0, and its exit status (-1 when a
    // signal ended it).
    bool endedWell() const { return exitCode() == 0; }
    int exitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

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
    int status_ = -1;
    FILE* out_ = nullptr;
};

} // namespace testsupport
