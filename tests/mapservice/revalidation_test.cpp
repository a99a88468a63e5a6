// The service as an HTTP cache of its upstream: how long a tile stays fresh is the upstream's
// word, a stale tile is asked for again with its validators, and served when the upstream is
// down.
#include "xyzfixture.h"

#include <fcntl.h>

namespace {

using namespace mapservice;

class Revalidation : public testsupport::XyzSource {
protected:
    // The regular files the cache holds that are no temporaries.
    int cachedFiles()
    {
        int files = 0;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(work.path().toStdString() + "/cache")) {
            files += entry.is_regular_file() && entry.path().filename().native()[0] != '.' ? 1 : 0;
        }
        return files;
    }
};

TEST_F(Revalidation, AStaleTileIsAskedForWithItsETagAndA304KeepsIt)
{
    clock = &manual;
    const int freshFor = 60;
    tiles.etag = "\"v1\"";
    tiles.cacheControl = "max-age=" + std::to_string(freshFor);
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const Answer first = answerMapRequest(query, table);
    ASSERT_EQ(first.status, 200) << first.body;
    const int fetched = tiles.requests;
    ASSERT_GT(fetched, 0);
    EXPECT_EQ(answerMapRequest(query, table).body, first.body);
    EXPECT_EQ(tiles.requests.load(), fetched) << "still fresh";

    manual.advance(std::chrono::seconds(freshFor + 1));
    const Answer again = answerMapRequest(query, table);
    ASSERT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(tiles.notModified.load(), fetched) << "every tile revalidated, none sent again";
    EXPECT_EQ(answerMapRequest(query, table).body, first.body);
    EXPECT_EQ(tiles.requests.load(), 2 * fetched) << "renewed by the 304s";
    EXPECT_EQ(tiles.cacheHeaders.load(), 0) << "no Cache-Control or Pragma upstream";

    // The service's own answer: fresh as long as its tiles, last changed when they did.
    const testsupport::RunningServer server(table);
    httplib::Client client("127.0.0.1", server.port());
    const auto answer = client.Get("/pub/agent.dll?" + query);
    ASSERT_TRUE(answer);
    long maxAge = -1;
    std::sscanf(answer->get_header_value("Cache-Control").c_str(), "public, max-age=%ld", &maxAge);
    EXPECT_GE(maxAge, 0);
    EXPECT_LE(maxAge, freshFor);
    EXPECT_EQ(answer->get_header_value("Last-Modified"), "Wed, 21 Oct 2015 07:28:00 GMT");
}

// What may not be stored is drawn and gone, with its descriptor, once its pictures are drawn.
TEST_F(Revalidation, WhatMayNotBeStoredIsDrawnButNotKept)
{
    tiles.cacheControl = "no-store";
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const auto counted = [](const std::string& folder, bool hidden) {
        int files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            const std::string name = entry.path().filename().native();
            files += (name[0] == '.') == hidden && name != ".evict.lock" ? 1 : 0;
        }
        return files;
    };
    const Answer first = answerMapRequest(query, table); // the network's own descriptors open
    ASSERT_EQ(first.status, 200) << first.body;
    const int descriptors = counted("/proc/self/fd", false);
    for (int lat = 40; lat < 50; ++lat) {
        const Answer answer = answerMapRequest(
            "CenP=" + std::to_string(lat) + ",10&Alti=90&Size=200,200&Lang=EUR0407", table);
        ASSERT_EQ(answer.status, 200) << answer.body;
        const QColor centre = picture(answer).pixelColor(100, 100);
        EXPECT_TRUE(centre == QColor(250, 150, 20) || centre == QColor(20, 150, 150));
    }
    const std::string cache = work.path().toStdString() + "/cache";
    testsupport::waitFor([&] { return counted(cache, true) == 0; }); // removed on the pool
    EXPECT_EQ(counted(cache, true), 0);
    EXPECT_EQ(cachedFiles(), 0);
    EXPECT_LE(counted("/proc/self/fd", false), descriptors);
}

TEST_F(Revalidation, AStaleTileIsServedWhenTheUpstreamIsDownAndALineSaysSo)
{
    // A stale tile waits half of it for its upstream.
    clock = &manual;
    timeoutSeconds = 4;
    tiles.cacheControl = "max-age=1";
    for (const bool hangs : {false, true}) {
        tiles.status = 200;
        tiles.letGo = false;
        SourceTable table(testShores(), options());
        ASSERT_TRUE(table.add(tiles.spec()).ok());
        // Elsewhere the second time, so that the tiles are new.
        const std::string asked = hangs ? "CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407" : query;
        const Answer first = answerMapRequest(asked, table);
        ASSERT_EQ(first.status, 200) << first.body;
        manual.advance(std::chrono::seconds(2));
        tiles.status = 503;
        tiles.hang = hangs;
        // A hung upstream: once it has the request, half the picture's time goes by.
        const int before = tiles.requests;
        std::thread timing([&] {
            if (hangs) {
                testsupport::waitFor([&] { return tiles.requests > before; });
                manual.advance(std::chrono::milliseconds(timeoutSeconds * 500 + 100));
            }
        });

        // Standard error into a file while the picture is drawn.
        const std::string errors = work.path().toStdString() + "/stderr.txt";
        const int saved = dup(STDERR_FILENO);
        const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(file, STDERR_FILENO);
        const Answer stale = answerMapRequest(asked, table);
        timing.join();
        dup2(saved, STDERR_FILENO);
        close(file);
        close(saved);
        tiles.letGo = true;

        ASSERT_EQ(stale.status, 200) << stale.body;
        EXPECT_EQ(stale.body, first.body);
        std::ifstream in(errors);
        const std::string said((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(said.find("served stale from the cache, as upstream 127.0.0.1"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find(hangs ? "no answer in time" : "status 503"), std::string::npos) << said;
    }
}

} // namespace
