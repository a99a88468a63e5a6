// mapexport run as a user runs it, on folders nothing here wrote: each row a folder, the
// command line, the exit status, what standard error says and what is left on disk.
#include "buildpaths.h"
#include "exportreaders.h"
#include "gifmaker.h"
#include "tempworkdir.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

// A tile of one colour, 200 pixels a side (a tenth of a degree at zoom 45), named |name|.
void writeTile(const QString& name, const QByteArray& bytes = {})
{
    const QString path = QStringLiteral("mymaps/") + name;
    if (bytes.isEmpty()) {
        testsupport::writeSolidGif(QFile::encodeName(path).constData(), 200, {240, 30, 30});
    } else {
        TempWorkDir::write(path, bytes);
    }
}

// A GIF of 200 pixels a side whose compressed data are noise in whole blocks: after the header,
// the 16 colours and the image descriptor come the code size and the data's sub-blocks.
QByteArray garbledGif()
{
    QByteArray gif = testsupport::makeGif(200, 200);
    for (qsizetype at = 13 + 16 * 3 + 10 + 1; at < gif.size() - 2;) {
        const int length = static_cast<unsigned char>(gif[at]);
        for (int i = 1; i <= length; ++i) {
            gif[at + i] = '\xff';
        }
        at += length + 1;
    }
    return gif;
}

TEST(HostileExport, EachFolderEndsWithItsStatusMessageAndFiles)
{
    GDALAllRegister(); // for the solid tiles written here
    struct Case {
        const char* name;
        std::vector<std::pair<QString, QByteArray>> tiles; // an empty body: a solid tile
        const char* output;                                // options before it, separated by spaces
        int status;
        std::vector<const char*> said; // on standard output or error
        bool written;
    };
    // A few bytes that declare 65535 x 65535 pixels.
    static const char giant[] = "GIF89a\xff\xff\xff\xff\x80\0\0\0\0\0\xff\xff\xff"
                                ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;";
    const QByteArray huge(giant, sizeof giant - 1);
    const Case cases[] = {
        {"AcrossMinus180",
         {{"IDA_E_B48!50L-179!99Z45.gif", {}}},
         "x.mbtiles",
         0,
         {"1 tiles", "tiles stored as PNG (a drawn map)"},
         true},
        {"AnImageLimitTheRegionCannotMeet",
         {{"IDA_E_B48!50L179!80Z45.gif", {}}, {"IDA_E_B48!50L180!20Z45.gif", {}}},
         "--max-images=1 x.kmz",
         2,
         {"--max-images 1 cannot be met", "at least 2 images, one on each side of 180 degrees"},
         false},
        {"Past540", {{"IDA_E_B48!50L539!99Z45.gif", {}}}, "x.gpkg", 0, {"1 tiles"}, true},
        {"GarbledBesideAGoodTile",
         {{"IDA_E_B48!50L10!00Z45.gif", {}}, {"IDA_E_B48!50L10!10Z45.gif", garbledGif()}},
         "x.tif",
         0,
         {"IDA_E_B48!50L10!10Z45.gif: its picture cannot be decoded", "1 tiles"},
         true},
        {"OnlyADeclaredGiant",
         {{"IDA_E_B48!50L10!00Z45.gif", huge}},
         "x.kmz",
         1,
         {"declares 65535 x 65535 pixels", "holds no tiles"},
         false},
        {"BeyondTheGridsLatitudes",
         {{"IDA_E_B89!99L539!99Z150.gif", {}}},
         "x.mbtiles",
         1,
         {"wholly beyond 85.0511 degrees", "no tile is left to export"},
         false},
        {"BeyondTheGridsLatitudesAsGeoTiff",
         {{"IDA_E_B89!99L539!99Z150.gif", {}}},
         "x.tif",
         0,
         {"1 tiles"},
         true},
        {"ZoomWiderThanTheEarth",
         {{"IDA_E_B10!00L10!00Z1000000000000000.gif", {}}},
         "x.sqlitedb",
         1,
         {"more than the whole earth", "no tile is left to export"},
         false},
        {"ControlCharactersInANameStayOnTheirLine",
         {{"IDA_E_B48!50L10!00Z45.gif", {}}, {QStringLiteral("IDA_\x1b]0;owned\x07.gif"), {}}},
         "x.tif",
         0,
         {"IDA_?]0;owned?.gif"},
         true},
        {"AFolderAsOutputIsRefusedBeforeTheExport",
         {{"IDA_E_B48!50L10!00Z45.gif", {}}},
         "out.tif",
         1,
         {"out.tif is a folder; name a file to write"},
         true},
        {"BidiControlsInANameDoNotTurnIt",
         {{"IDA_E_B48!50L10!00Z45.gif", {}}, {QStringLiteral("IDA_\u202Efig.gif"), {}}},
         "x.tif",
         0,
         {"IDA_?fig.gif"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkDir work;
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("out.tif"))); // a folder where a file may go
        for (const auto& [name, bytes] : c.tiles) {
            writeTile(name, bytes);
        }
        QProcess run;
        const QStringList arguments = QString::fromLatin1(c.output).split(u' ');
        run.start(QString::fromStdString(testsupport::program("mapexport")), arguments);
        ASSERT_TRUE(run.waitForFinished(120'000));
        const QByteArray said = run.readAllStandardOutput() + run.readAllStandardError();
        EXPECT_EQ(run.exitCode(), c.status) << said.toStdString();
        for (const char* part : c.said) {
            EXPECT_TRUE(said.contains(part)) << part << "\n" << said.toStdString();
        }
        EXPECT_FALSE(said.contains('\x1b') || said.contains('\x07') || said.contains("\u202E"))
            << "no control character";
        EXPECT_EQ(QFileInfo::exists(arguments.back()), c.written);
        EXPECT_EQ(QDir()
                      .entryList(QDir::Files | QDir::Hidden)
                      .filter(QRegularExpression(QStringLiteral("^\\.")))
                      .size(),
                  0)
            << "no temporary is left";
    }
}

} // namespace
