#include "common/tilefolder.h"
#include "tempworkdir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using testsupport::TempWorkDir;

struct FolderCase {
    const char* name;
    QStringList folders;
    QStringList files;
    const char* expected; // nullptr: none found
};

class TileFolderTable : public ::testing::TestWithParam<FolderCase> {};

TEST_P(TileFolderTable, FindsTheFolderIgnoringCase)
{
    TempWorkDir work;
    for (const QString& folder : GetParam().folders) {
        ASSERT_TRUE(QDir().mkdir(folder));
    }
    for (const QString& file : GetParam().files) {
        TempWorkDir::write(file, "x");
    }
    const auto found = common::findTileFolder();
    if (GetParam().expected == nullptr) {
        EXPECT_FALSE(found.has_value());
        EXPECT_EQ(common::TileFolder::lookUp().path(), QStringLiteral("mymaps"));
    } else {
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(*found, QString::fromLatin1(GetParam().expected));
        EXPECT_EQ(common::TileFolder::lookUp().path(), *found);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TileFolderTable,
    ::testing::Values(FolderCase{"None", {}, {"mymapsx"}, nullptr},
                      FolderCase{"Lower", {"mymaps"}, {}, "mymaps"},
                      FolderCase{"Created", {"MyMaps"}, {}, "MyMaps"},
                      FolderCase{"Shouting", {"MYMAPS"}, {}, "MYMAPS"},
                      FolderCase{"PlainFile", {}, {"MyMaps"}, "MyMaps"},
                      FolderCase{"FolderBeatsFile", {"MYMAPS"}, {"mymaps"}, "MYMAPS"},
                      FolderCase{"LowerBeatsOthers", {"MYMAPS", "MyMaps", "mymaps"}, {}, "mymaps"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TileFolder, CreatedAsMyMapsOnlyWhenNoEntryExists)
{
    const auto ensure = [] {
        bool created = false;
        const auto folder = common::TileFolder::ensure(QDir::current(), &created);
        return std::pair(folder.path(), created);
    };
    TempWorkDir work;
    EXPECT_EQ(ensure(), std::pair(QStringLiteral("MyMaps"), true));
    EXPECT_TRUE(common::TileFolder::lookUp().isFolder());
    EXPECT_EQ(common::TileFolder::lookUp().pathOf(QStringLiteral("a.gif")),
              QStringLiteral("MyMaps/a.gif"));
    EXPECT_EQ(ensure(), std::pair(QStringLiteral("MyMaps"), false));

    TempWorkDir other;
    TempWorkDir::write(QStringLiteral("mymaps"), "a plain file counts as existing");
    EXPECT_EQ(ensure(), std::pair(QStringLiteral("mymaps"), false));
    EXPECT_FALSE(QDir(QStringLiteral("MyMaps")).exists());
    EXPECT_FALSE(common::TileFolder::lookUp().isFolder());
}

} // namespace

namespace {

TEST(TileImages, GifFilesOnlyInNameOrderIgnoringCase)
{
    TempWorkDir work;
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("maps/folder.gif")));
    for (const char* name : {"b.gif", "A.GIF", "a.gif", "c.Gif", ".hidden.gif", "notes.txt", "gif",
                             ".gif", "x.gif.map", "Ä.gif"}) {
        TempWorkDir::write(QStringLiteral("maps/") + QString::fromUtf8(name), "x");
    }
    ASSERT_EQ(::symlink("b.gif", "maps/link.gif"), 0);         // to a file: listed
    ASSERT_EQ(::symlink("nowhere.gif", "maps/broken.gif"), 0); // to nothing: left out
    ASSERT_EQ(::symlink("folder.gif", "maps/dir.gif"), 0);     // to a folder: left out
    EXPECT_EQ(common::listTileImages(QStringLiteral("maps")),
              (QStringList{"A.GIF", "a.gif", "b.gif", "c.Gif", "link.gif", "Ä.gif"}));
    EXPECT_TRUE(common::listTileImages(QStringLiteral("missing")).isEmpty());
    EXPECT_TRUE(common::listTileImages(QStringLiteral("maps/b.gif")).isEmpty());
}

} // namespace
