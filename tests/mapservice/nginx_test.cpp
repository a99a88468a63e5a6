// Debian's nginx with the documented configuration (docs/nginx-mapservice.conf) as a shared cache
// in front of two services on 127.0.0.1: a repeated picture is a cache hit, and many clients asking
// at once for one new picture cause one drawing.
#include "buildpaths.h"
#include "nginxprocess.h"
#include "serviceprocess.h"
#include "tempworkdir.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void replace(std::string& text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// How many lines of the services' access logs hold |part| of a query (as sent: its commas
// percent-encoded).
int logged(const std::vector<std::string>& logs, const std::string& part)
{
    int lines = 0;
    for (const std::string& log : logs) {
        std::istringstream in(readAll(log));
        for (std::string line; std::getline(in, line);) {
            lines += line.find(part) != std::string::npos ? 1 : 0;
        }
    }
    return lines;
}

TEST(SharedCache, RepeatedPicturesAreHitsAndAPictureManyAskForIsDrawnOnce)
{
    const std::string conf = readAll(testsupport::sourceFile("docs/nginx-mapservice.conf"));
    ASSERT_FALSE(conf.empty());
    // The service's document shows it, indented as a block.
    const std::string readme = readAll(testsupport::sourceFile("docs/mapservice.md"));
    std::istringstream lines(conf);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.empty() || readme.find("    " + line + "\n") != std::string::npos)
            << "docs/mapservice.md lacks: " << line;
    }

    testsupport::TempWorkDir work;
    const std::string dir = work.path().toStdString();
    const std::vector<std::string> logs{dir + "/service1.log", dir + "/service2.log"};
    testsupport::ServiceProcess first(testsupport::program("mapservice"), {"--log"}, logs[0]);
    testsupport::ServiceProcess second(testsupport::program("mapservice"), {"--log"}, logs[1]);
    ASSERT_GT(first.port(), 0);
    ASSERT_GT(second.port(), 0);

    std::string snippet = conf;
    replace(snippet, "/var/cache/nginx/mapservice", dir + "/cache");
    replace(snippet, "127.0.0.1:8047", "127.0.0.1:" + std::to_string(first.port()));
    replace(snippet, "127.0.0.1:8048", "127.0.0.1:" + std::to_string(second.port()));
    replace(snippet, "listen 8080;", "listen 127.0.0.1:@PORT@;");
    const testsupport::NginxProcess nginx(dir, snippet);
    ASSERT_TRUE(nginx.up()) << nginx.errors();
    const int port = nginx.port();

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    const auto ask = [port](const std::string& query) {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(60, 0);
        return c.Get("/pub/agent.dll?" + query);
    };

    const std::string repeated = "CenP=54.5,10.5&Alti=45&Size=300,300&Lang=EUR0407";
    const auto miss = ask(repeated);
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->status, 200);
    EXPECT_EQ(miss->get_header_value("X-Cache-Status"), "MISS");
    const auto hit = ask(repeated);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->get_header_value("X-Cache-Status"), "HIT");
    EXPECT_EQ(hit->body, miss->body);

    // Tiles too; and their TileJSON names the address the client used, nginx's.
    for (const char* status : {"MISS", "HIT"}) {
        const auto tile = client.Get("/tiles/EUR0407/6/33/21.png");
        ASSERT_TRUE(tile);
        EXPECT_EQ(tile->status, 200);
        EXPECT_EQ(tile->get_header_value("X-Cache-Status"), status);
    }
    const auto json = client.Get("/tiles/EUR0407.json");
    ASSERT_TRUE(json);
    EXPECT_NE(json->body.find("http://127.0.0.1:" + std::to_string(port) + "/tiles/EUR0407/"),
              std::string::npos)
        << json->body;

    const std::string wanted = "CenP=47.5,8.5&Alti=90&Size=1999,1999&Lang=EUR0407";
    std::vector<std::thread> clients;
    std::atomic<int> served{0};
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back([&] {
            const auto answer = ask(wanted);
            served += answer && answer->status == 200 ? 1 : 0;
        });
    }
    for (std::thread& c : clients) {
        c.join();
    }
    EXPECT_EQ(served.load(), 20);
    // The services write their log lines on a thread of their own: give them a moment.
    for (int i = 0; i < 50 && logged(logs, "Alti=45&") + logged(logs, "Alti=90&") < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(logged(logs, "Alti=45&"), 1) << "the hit never reached a service:\n"
                                           << readAll(logs[0]) << readAll(logs[1]);
    EXPECT_EQ(logged(logs, "Alti=90&"), 1) << "twenty clients, one drawing";
}

} // namespace
