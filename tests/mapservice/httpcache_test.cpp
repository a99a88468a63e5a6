// The service's answers as an HTTP cache in front of it sees them: a strong ETag of what the
// picture shows, Cache-Control, Last-Modified where known, and 304 for a picture the client has.
#include "geotiffwriter.h"
#include "xyzfixture.h"

#include <sys/stat.h>

namespace {

using namespace mapservice;

// The drawn map, counting the pictures it draws.
class CountingSource : public Source {
public:
    explicit CountingSource(const ShoreData& shores) : drawn_(shores) {}
    common::Result<Picture> drawGathered(const MapRequest& request, const Gathered* /*gathered*/,
                                         const Halt& halt) const override
    {
        ++drawings;
        return drawn_.draw(request, halt);
    }
    Freshness freshness(const MapRequest& request, const Gathered* gathered) const override
    {
        return drawn_.freshness(request, gathered);
    }
    mutable std::atomic<int> drawings{0};

private:
    DrawnSource drawn_;
};

httplib::Result get(int port, const std::string& query, const std::string& ifNoneMatch = {})
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    httplib::Headers headers;
    if (!ifNoneMatch.empty()) {
        headers.emplace("If-None-Match", ifNoneMatch);
    }
    return client.Get("/pub/agent.dll?" + query, headers);
}

const std::string query = "CenP=48,10&Alti=90&Size=200,200&Lang=EUR0407";

TEST(HttpCaching, APictureTheClientHasIsAnswered304WithoutDrawing)
{
    const CountingSource source(testShores());
    const testsupport::RunningServer server(source);
    const auto first = get(server.port(), query);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    const std::string etag = first->get_header_value("ETag");
    EXPECT_EQ(etag.size(), 34u) << etag; // strong: a quoted 128-bit hash
    EXPECT_EQ(first->get_header_value("Cache-Control"), "public, max-age=86400");
    EXPECT_EQ(source.drawings.load(), 1);

    const struct {
        std::string query;
        std::string ifNoneMatch;
        int status;
    } cases[] = {
        {query, etag, 304},
        {query, "W/" + etag, 304},
        {query, "\"other\", " + etag, 304},
        {query, "*", 304},
        {"CenP=48.000,10.0&Alti=90.0&Size=200,200&Lang=EUR0407", etag, 304}, // the same request
        {query, "\"other\"", 200},
        {"CenP=48,10&Alti=90&Size=200,201&Lang=EUR0407", etag, 200},
    };
    int drawn = 1;
    for (const auto& c : cases) {
        const auto answer = get(server.port(), c.query, c.ifNoneMatch);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status) << c.query << " " << c.ifNoneMatch;
        drawn += c.status == 200 ? 1 : 0;
        EXPECT_EQ(source.drawings.load(), drawn) << "a 304 draws nothing";
        if (c.status == 304) {
            EXPECT_TRUE(answer->body.empty());
            EXPECT_EQ(answer->get_header_value("ETag"), etag);
        }
    }
}

TEST(HttpCaching, TheSourceAndWhatItDrewFromMakeTheTag)
{
    testsupport::TempWorkDir work;
    const std::string tif = work.path().toStdString() + "/a.tif";
    ASSERT_TRUE(testsupport::writeGeotiff(tif, 4326, 9, 49, 0.01, 0.01, 200, 200, [](int, int) {
        return std::array<std::uint8_t, 3>{10, 200, 10};
    }));
    const auto etagOf = [](const Source& source, const char* header = "ETag") {
        const testsupport::RunningServer server(source);
        const auto answer = get(server.port(), query);
        return answer ? answer->get_header_value(header) : std::string("no answer");
    };
    SourceTable drawn(testShores(), testsupport::onServiceLoop());
    SourceTable file(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(file.add(tif).ok());
    const std::string drawnTag = etagOf(drawn);
    const std::string fileTag = etagOf(file);
    EXPECT_NE(drawnTag, fileTag) << "another --source, another tag";
    EXPECT_FALSE(etagOf(file, "Last-Modified").empty());

    // The file changes: so does the tag.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tif.c_str(), times, 0), 0);
    EXPECT_NE(etagOf(file), fileTag);
    EXPECT_EQ(etagOf(file, "Last-Modified"), "Sun, 09 Sep 2001 01:46:40 GMT");
}

class RemoteCaching : public testsupport::XyzSource {};

TEST_F(RemoteCaching, ATileFetchedAgainChangesTheTagAndFreshnessFollowsTheTiles)
{
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const testsupport::RunningServer server(table);
    const auto first = get(server.port(), query);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    const std::string etag = first->get_header_value("ETag");
    long maxAge = 0;
    ASSERT_EQ(std::sscanf(first->get_header_value("Cache-Control").c_str(), "public, max-age=%ld",
                          &maxAge),
              1);
    EXPECT_GT(maxAge, 7 * 24 * 3600 - 60) << "tiles fetched now stay a week";
    const auto again = get(server.port(), query, etag);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 304);

    // One tile as if fetched again a day ago by an earlier version, which kept no record: the
    // picture is another, fresh for six days.
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(work.path().toStdString() + "/cache")) {
        if (entry.is_regular_file() && entry.path().filename().native()[0] != '.' &&
            entry.path().extension() != ".rec") {
            std::filesystem::remove(entry.path().native() + ".rec");
            const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 24 * 3600, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times, 0), 0);
            break;
        }
    }
    const auto changed = get(server.port(), query, etag);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->status, 200);
    EXPECT_NE(changed->get_header_value("ETag"), etag);
    ASSERT_EQ(std::sscanf(changed->get_header_value("Cache-Control").c_str(), "public, max-age=%ld",
                          &maxAge),
              1);
    EXPECT_NEAR(maxAge, 6 * 24 * 3600, 60);
}

} // namespace

namespace {

// Every picture names its code's source in Map-Source: the same for every picture of one
// source, another for another source, and the same again for the same options after a restart.
TEST(HttpCaching, EveryPictureNamesItsSource)
{
    testsupport::TempWorkDir work;
    ASSERT_TRUE(testsupport::writeGeotiff("red.tif", 4326, -180, 90, 1, 1, 360, 180, [](int, int) {
        return std::array<std::uint8_t, 3>{200, 20, 20};
    }));
    const auto sources = [](const SourceTable& table) {
        const testsupport::RunningServer server(table);
        std::vector<std::string> named;
        for (const char* code : {"EUR0407", "EUR0407", "USA407", "WLD0407"}) {
            const auto answer = get(server.port(), std::string("CenP=48,10&Alti=90&Size=64,64&"
                                                               "Lang=") +
                                                       code);
            named.push_back(answer ? answer->get_header_value("Map-Source") : "no answer");
        }
        return named;
    };
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add("USA407=red.tif").ok());
    const auto named = sources(table);
    EXPECT_EQ(named[0].size(), 16u);
    EXPECT_EQ(named[0], named[1]);
    EXPECT_NE(named[0], named[2]) << "the drawn map and the file";
    EXPECT_EQ(named[0], named[3]);
    SourceTable again(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(again.add("USA407=red.tif").ok());
    ASSERT_TRUE(again.addHeader("X-Api-Key: secret").ok()); // no part of a source's name
    EXPECT_EQ(sources(again), named);
}

} // namespace
