#pragma once

// MapProxy (Debian's mapproxy) in front of MapServer (cgi-mapserver) on 127.0.0.1, for the tests
// that ask real tile and map servers: the configuration in tests/data/mapproxy, its files in
// |folder|. MapProxy's development server runs a reloader process beside the server: the whole
// process group is stopped when the object goes.
#include "buildpaths.h"
#include "loopbackserver.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

class MapProxyServer {
public:
    // Starts it on a free port once |folder| holds the GeoTIFFs the map file names; returns
    // once it answers, once it has ended, or after two minutes.
    explicit MapProxyServer(const std::string& folder) : folder_(folder)
    {
        for (const char* name : {"mapproxy.yaml", "checks.map", "mapserver.conf"}) {
            std::ifstream in(testData(std::string("mapproxy/") + name));
            std::stringstream text;
            text << in.rdbuf();
            std::string content = text.str();
            for (std::size_t at = content.find("@FOLDER@"); at != std::string::npos;
                 at = content.find("@FOLDER@", at)) {
                content.replace(at, 8, folder);
            }
            std::ofstream(folder + "/" + name) << content;
        }
        port_ = freeLoopbackPort();
        const std::string bind = "127.0.0.1:" + std::to_string(port_);
        const std::string config = folder + "/mapproxy.yaml";
        const std::string log = folder + "/mapproxy.log";
        // Everything the child needs is made before the fork: after it, only exec. MapProxy
        // passes its environment on to mapserv.
        std::vector<std::string> environment{"MAPSERVER_CONFIG_FILE=" + folder + "/mapserver.conf"};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            environment.emplace_back(*variable);
        }
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        std::string arguments[] = {"mapproxy-util", "serve-develop", "-b", bind, config};
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        child_ = fork();
        if (child_ == 0) {
            setsid(); // a group of its own, with the reloader
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execve("/usr/bin/mapproxy-util", argv.data(), envp.data());
            _exit(127);
        }
        close(out);
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(1, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        int status = 0;
        while (!ready_ && std::chrono::steady_clock::now() < deadline) {
            const auto answer = client.Get("/wmts/1.0.0/WMTSCapabilities.xml");
            ready_ = answer && answer->status == 200;
            if (!ready_) {
                if (waitpid(child_, &status, WNOHANG) == child_) {
                    child_ = 0; // it ended: its log says why
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    }
    ~MapProxyServer()
    {
        if (child_ <= 0) {
            return;
        }
        kill(-child_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(child_, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(-child_, SIGKILL);
        waitpid(child_, &status, 0);
    }
    MapProxyServer(const MapProxyServer&) = delete;
    MapProxyServer& operator=(const MapProxyServer&) = delete;

    bool ready() const { return ready_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // What it wrote, for a failing test's message.
    std::string log() const
    {
        std::ifstream in(folder_ + "/mapproxy.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string folder_;
    int port_ = 0;
    pid_t child_ = -1;
    bool ready_ = false;
};

} // namespace testsupport
