#pragma once

// Debian's nginx on a free port of 127.0.0.1, with a prefix, temporary folders and error log of
// its own in a test's folder, so that the system's nginx, if any, is not touched; stopped when
// the object goes.
#include "loopbackserver.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace testsupport {

class NginxProcess {
public:
    // Starts nginx in |dir| with |servers| as the body of its http block, where "@PORT@" stands
    // for the port that answers "/" and "@PORT2@" for a second one, |logAccess| whether requests
    // go to dir/access.log, with |workers| worker processes. Returns once "/" answers on the
    // first port, or after 15 s (see up()).
    NginxProcess(const std::string& dir, std::string servers, bool logAccess = false,
                 int workers = 1)
        : port_(freeLoopbackPort()), secondPort_(freeLoopbackPort()), dir_(dir)
    {
        for (const auto& [name, port] : {std::pair{"@PORT@", port_}, {"@PORT2@", secondPort_}}) {
            for (std::size_t at; (at = servers.find(name)) != std::string::npos;) {
                servers.replace(at, std::string(name).size(), std::to_string(port));
            }
        }
        std::ofstream(dir + "/nginx.conf")
            << "user root;\nworker_processes " << workers << ";\npid " << dir << "/nginx.pid;\n"
            << "events { worker_connections 256; }\nhttp {\n  access_log "
            << (logAccess ? dir + "/access.log" : std::string("off")) << ";\n"
            << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir
            << "/proxy;\n"
            << "  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir
            << "/uwsgi;\n"
            << "  scgi_temp_path " << dir << "/scgi;\n"
            << servers << "\n}\n";
        const std::string conf = dir + "/nginx.conf";
        const std::string errors = dir + "/nginx.err";
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-c", conf.c_str(), "-e",
                  errors.c_str(), "-g", "daemon off;", static_cast<char*>(nullptr));
            _exit(127);
        }
        httplib::Client client("127.0.0.1", port_);
        for (int i = 0; i < 300 && !up_; ++i) {
            up_ = static_cast<bool>(client.Get("/"));
            if (!up_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    ~NginxProcess()
    {
        kill(-pid_, SIGTERM);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    NginxProcess(const NginxProcess&) = delete;
    NginxProcess& operator=(const NginxProcess&) = delete;

    bool up() const { return up_; }
    int port() const { return port_; }
    int secondPort() const { return secondPort_; }
    // What nginx wrote to its error log.
    std::string errors() const
    {
        std::ifstream in(dir_ + "/nginx.err");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    int port_;
    int secondPort_;
    std::string dir_;
    pid_t pid_ = -1;
    bool up_ = false;
};

} // namespace testsupport
