// The tile cache on its own: entries within a limit, pins of pictures being drawn, services
// that share a folder, and what it finds there that is none of its own.
#include "tempworkdir.h"
#include "upstreamfakes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace mapservice;

// A pipe where the cache keeps an entry or its record is removed, never opened: reading one
// would wait for a writer, holding the cache's threads.
TEST(TileCache, APipeInTheFolderIsRemovedNotRead)
{
    testsupport::TempWorkDir work;
    TileCache cache((work.path() + QStringLiteral("/cache")).toStdString(),
                    {std::uint64_t{1} << 30, std::time_t{3600}, std::chrono::seconds(600),
                     std::chrono::seconds(3600)});
    for (const char* key : {"body", "record"}) {
        const auto temporary = cache.temporaryFor(key);
        ASSERT_TRUE(temporary);
        ASSERT_TRUE((*temporary)->write("body", 4));
        ASSERT_TRUE(cache.store(key, **temporary, TileCache::Record{0, false, "\"a\"", {}}).ok());
    }
    const std::string body = cache.lookup("body")->file;
    const std::string record = cache.lookup("record")->file + ".rec";
    for (const std::string& pipe : {body, record}) {
        ASSERT_EQ(::unlink(pipe.c_str()), 0);
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    }
    EXPECT_FALSE(cache.lookup("body")) << "no entry";
    const auto withoutRecord = cache.lookup("record");
    ASSERT_TRUE(withoutRecord);
    EXPECT_FALSE(withoutRecord->record);
    for (const std::string& pipe : {body, record}) {
        struct stat status {};
        EXPECT_NE(::lstat(pipe.c_str(), &status), 0) << pipe << " is gone";
    }
}

// A cache entry of |bytes| bytes.
void put(TileCache& cache, const std::string& key, std::size_t bytes = 1000)
{
    const auto temporary = cache.temporaryFor(key);
    ASSERT_TRUE(temporary);
    ASSERT_TRUE((*temporary)->write(std::string(bytes, 'x').data(), bytes));
    ASSERT_TRUE(cache.store(key, **temporary).ok());
}

TileCache::Limits limits(std::uint64_t bytes, int walkSeconds = 600)
{
    return {bytes, std::time_t{7} * 24 * 3600, std::chrono::seconds(walkSeconds),
            std::chrono::seconds(3600)};
}

// Temporaries of writers that died go when a cache first looks at its folder, in either name
// form; one whose writer runs or holds its lock stays.
TEST(TileCache, OpeningRemovesOnlyTheTemporariesOfDeadWriters)
{
    testsupport::TempWorkDir work;
    const QString dir = QStringLiteral("cache/s/1/0/");
    const QString dead = dir + testsupport::temporaryNameOf(testsupport::endedProcessId());
    const QString ours = dir + testsupport::temporaryNameOf(::getpid());
    const QString oldForm = dir + QStringLiteral(".0.png.Ab12Cd");
    const QString oldFormHeld = dir + QStringLiteral(".1.png.Ef34Gh");
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const QString& name : {dead, ours, oldForm, oldFormHeld}) {
        testsupport::TempWorkDir::write(name, "part of a tile");
    }
    const int held = ::open(QFile::encodeName(oldFormHeld).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    TileCache cache("cache", limits(1 << 20));
    EXPECT_EQ(cache.bytes(), 0u) << "temporaries are no entries";
    ::close(held);
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_FALSE(QFileInfo::exists(oldForm));
    EXPECT_TRUE(QFileInfo::exists(ours));
    EXPECT_TRUE(QFileInfo::exists(oldFormHeld));
}

TEST(TileCache, DropsTheLeastRecentlyUsedBeyondItsLimit)
{
    testsupport::TempWorkDir work;
    const std::string folder = work.path().toStdString() + "/cache";
    TileCache cache(folder, limits(3000));
    put(cache, "s/1/0/0");
    put(cache, "s/1/0/1");
    put(cache, "s/1/1/0");
    EXPECT_TRUE(cache.find("s/1/0/0")); // used: now the second is the oldest
    put(cache, "s/1/1/1");
    EXPECT_TRUE(cache.find("s/1/0/0"));
    EXPECT_FALSE(cache.find("s/1/0/1"));
    EXPECT_TRUE(cache.find("s/1/1/1"));
    EXPECT_LE(cache.bytes(), 3000u);
    // Another process, later: it counts what is on disk.
    TileCache again(folder, limits(3000));
    EXPECT_EQ(again.bytes(), cache.bytes());
}

// Tiles that a picture being drawn has pinned stay: a cache smaller than one picture's tiles goes
// over its limit rather than fail the picture, and makes room once it is drawn.
TEST(TileCache, TilesInUseStayEvenPastTheLimit)
{
    testsupport::TempWorkDir work;
    TileCache cache(work.path().toStdString() + "/cache", limits(3000));
    std::vector<TileCache::Pin> drawing(5); // the pins of a picture being drawn
    for (int i = 0; i < 5; ++i) {
        const auto temporary = cache.temporaryFor("s/1/0/" + std::to_string(i));
        ASSERT_TRUE(temporary);
        ASSERT_TRUE((*temporary)->write(std::string(1000, 'x').data(), 1000));
        ASSERT_TRUE(cache
                        .store("s/1/0/" + std::to_string(i), **temporary, std::nullopt,
                               &drawing[static_cast<std::size_t>(i)])
                        .ok());
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(cache.find("s/1/0/" + std::to_string(i))) << i;
    }
    EXPECT_EQ(cache.bytes(), 5000u);
    drawing.clear(); // drawn: the next store makes room
    put(cache, "s/1/0/5");
    EXPECT_LE(cache.bytes(), 3000u);
}

// Two services on one folder, each walking it before it evicts: together under the limit.
TEST(TileCache, TwoServicesSharingAFolderKeepItUnderTheLimitTogether)
{
    testsupport::TempWorkDir work;
    const std::string folder = work.path().toStdString() + "/cache";
    TileCache first(folder, limits(3000, 0));
    TileCache second(folder, limits(3000, 0));
    for (int i = 0; i < 8; ++i) {
        put(i % 2 == 0 ? first : second, "s/2/0/" + std::to_string(i));
    }
    EXPECT_LE(TileCache(folder, limits(3000)).bytes(), 3000u);
}

// Between walks two services on one folder count each other's writes, records included: the
// folder stays within the limit they share.
TEST(TileCache, TwoServicesCountEachOthersWritesBetweenWalks)
{
    testsupport::TempWorkDir work;
    const std::string folder = work.path().toStdString() + "/cache";
    TileCache first(folder, limits(4000)); // each walks the folder now, then in ten minutes
    TileCache second(folder, limits(4000));
    for (int i = 0; i < 12; ++i) {
        TileCache& cache = i % 2 == 0 ? first : second;
        const std::string key = "s/3/0/" + std::to_string(i);
        const auto temporary = cache.temporaryFor(key);
        ASSERT_TRUE(temporary);
        ASSERT_TRUE((*temporary)->write(std::string(600, 'x').data(), 600));
        ASSERT_TRUE(
            cache.store(key, **temporary, TileCache::Record{0, false, "\"etag\"", {}}).ok());
    }
    EXPECT_LE(TileCache(folder, limits(4000)).bytes(), 4000u) << "as a walk finds the folder";
}

// A writer locks its temporary: one whose lock is free (its writer died) goes, however young;
// one still being written stays.
TEST(TileCache, TemporariesOfDeadWritersGoWhateverTheirAge)
{
    testsupport::TempWorkDir work;
    const std::string folder = work.path().toStdString() + "/cache";
    TileCache writer(folder, limits(3000));
    const auto alive = writer.temporaryFor("s/1/0/0");
    ASSERT_TRUE(alive);
    const std::string dead = folder + "/s/1/0/.0.abandoned";
    std::ofstream(dead) << "half a tile";
    EXPECT_EQ(TileCache(folder, limits(3000)).bytes(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_TRUE(std::filesystem::exists((*alive)->path()));
}

} // namespace
