#include "buildpaths.h"
#include "common/tilefolder.h"
#include "durablecallsrecorder.h"
#include "pinmark/batch.h"
#include "pinmark/formatting.h"
#include "pinmark/mapfile.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using namespace pinmark;
using testsupport::TempWorkDir;

struct FieldCase {
    QString (*format)(double);
    double value;
    const char* text;
};

QString formit4(double v)
{
    return formit(v, 4);
}
QString formit5(double v)
{
    return formit(v, 5);
}
QString formit8(double v)
{
    return formit(v, 8);
}
QString formit3(double v)
{
    return formit(v, 3);
}
QString formit0(double v)
{
    return formit(v, 0);
}

class NumberFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(NumberFields, FixedWidthAndNineFractionDigits)
{
    EXPECT_EQ(GetParam().format(GetParam().value), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumberFields,
    ::testing::Values(
        FieldCase{formit5, 290, "  290"}, FieldCase{formit5, 1737, " 1737"},
        FieldCase{formit8, 0, "       0"}, FieldCase{formit4, 48, "  48"},
        FieldCase{formit4, -5, "  -5"}, FieldCase{formit4, -123, "-123"},
        FieldCase{formit3, -250, "-250"}, FieldCase{formit0, 7.5, "7.5"},
        FieldCase{formkomma, 48, "48.000000000"}, FieldCase{formkomma, 48.1, "48.100000000"},
        FieldCase{formkomma, 48.05, "48.050000000"}, FieldCase{formkomma, -12.5, "-12.500000000"},
        FieldCase{formkomma, 0.5, ".500000000"}, FieldCase{formkomma, -0.5, "-.500000000"},
        // Padded, never a repeated digit: the centre must stay the centre.
        FieldCase{formkomma, 48.55, "48.550000000"}, FieldCase{formkomma, 8.55, "8.550000000"},
        FieldCase{formkomma, 0.0, "0.000000000"},
        FieldCase{formkomma, 48.1234567891, "48.1234567891"},
        FieldCase{formkomma, 1.0 / 3.0, ".333333333333333"}));

// Runs the batch over empty GIF files named as in tests/data/pinmark/tiles.txt and compares
// every calibration file with its golden copy, byte for byte.
TEST(CalibrationFiles, MatchTheGoldenFilesByteForByte)
{
    const QString data = QString::fromStdString(testsupport::testData("pinmark/"));
    QFile list(data + QStringLiteral("tiles.txt"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QStringList names = QString::fromLatin1(list.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(names.size(), 8);

    TempWorkDir work;
    TempWorkDir::writeTiles(names, {});
    const BatchResult result = runBatch(common::TileFolder(QStringLiteral("mymaps")),
                                        common::listTileImages("mymaps"), [](int) {});
    EXPECT_EQ(result.written, names.size());
    EXPECT_TRUE(result.skipped.isEmpty()) << result.skipped.join(u' ').toStdString();
    for (const QString& name : names) {
        const QString map = mapFileName(name);
        EXPECT_EQ(TempWorkDir::read(QStringLiteral("mymaps/") + map), TempWorkDir::read(data + map))
            << map.toStdString();
    }
}

TEST(CalibrationFiles, RewritingReplacesTheWholeFile)
{
    TempWorkDir work;
    TempWorkDir::write(QStringLiteral("IDA_E_B48!50L11!25Z150.map"), QByteArray(20000, 'x'));
    ASSERT_TRUE(writemapfile(common::TileFolder(QStringLiteral(".")),
                             QStringLiteral("IDA_E_B48!50L11!25Z150.gif"), 48.5, 11.25, 150)
                    .ok());
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("IDA_E_B48!50L11!25Z150.map")),
              mapFileText(QStringLiteral("IDA_E_B48!50L11!25Z150.gif"), 48.5, 11.25, 150));
}

// 40 tiles: the calibration files reach the disk in groups of 32 and 8, each counted only once
// its group is there, with a rename only after the group's sync.
TEST(CalibrationFiles, GoToTheDiskInGroups)
{
    TempWorkDir work;
    QStringList names;
    for (int i = 0; i < 40; ++i) {
        names.append(QStringLiteral("IDA_E_B%1!00L1!00Z45.gif").arg(i));
    }
    TempWorkDir::writeTiles(names, {});
    testsupport::DurableCallsRecorder calls;
    QList<int> progress;
    const BatchResult result = runBatch(
        common::TileFolder(QStringLiteral("mymaps")), names,
        [&](int) { progress.append(static_cast<int>(calls.calls().size())); }, calls);
    EXPECT_EQ(result.written, 40);
    QStringList expected;
    for (int group = 0; group < 2; ++group) {
        expected << QStringLiteral("sync");
        for (int i = group * 32; i < std::min(40, group * 32 + 32); ++i) {
            expected << QStringLiteral("rename IDA_E_B%1!00L1!00Z45.map").arg(i);
        }
        expected << QStringLiteral("sync folder mymaps");
    }
    EXPECT_EQ(calls.calls(), expected);
    // The calls made when each file was counted: all of its group's.
    EXPECT_EQ(progress.front(), 34);
    EXPECT_EQ(progress.back(), 44);
}

} // namespace
