#include "common/commandline.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, VersionAndHelpAreAnsweredTheRestIsLeftToTheProgram)
{
    const QString help = QStringLiteral("usage: viewer");
    const QString version = QStringLiteral("viewer " MAPSUITE_VERSION "\n");
    const struct {
        QStringList arguments;
        std::optional<QString> answer;
    } cases[] = {
        {{}, std::nullopt},
        {{"-platform", "offscreen"}, std::nullopt},
        {{"--connections", "2"}, std::nullopt},
        {{"--version"}, version},
        {{"--help"}, help + u'\n'},
        {{"-platform", "xcb", "--help", "--version"}, help + u'\n'},
        {{"--version", "--help"}, version},
        {{"--Help"}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::versionOrHelp(c.arguments, QStringLiteral("viewer"), help), c.answer)
            << c.arguments.join(u' ').toStdString();
    }
}

TEST(CommandLine, WindowProgramsTakeQtsOptionsAndNothingElse)
{
    const struct {
        QStringList arguments;
        std::optional<QString> unknown;
    } cases[] = {
        {{}, std::nullopt},
        {{"-platform", "offscreen", "-style=fusion", "-reverse", "--help"}, std::nullopt},
        {{"-style", "fusion", "-geometry", "800x600+0+0"}, std::nullopt},
        {{"mymaps"}, "mymaps"},
        {{"--zoom", "45"}, "--zoom"},
        {{"-platform"}, "-platform"}, // without its value
        {{"-reverse=1"}, "-reverse=1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::unknownArgument(c.arguments), c.unknown)
            << c.arguments.join(u' ').toStdString();
    }
}

} // namespace
