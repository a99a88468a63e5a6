// Pinmark, Tramsel and Brontile over a damaged tile folder beside valid tiles: no crash, no
// hang, the valid tiles handled as usual, the bad ones reported or skipped, nothing outside the
// folder touched and no tile changed.
#include "brontile/form1.h"
#include "common/pictureview.h"
#include "gifmaker.h"
#include "pinmark/form1.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"
#include "tramsel/form1.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <unistd.h>

namespace {

using testsupport::TempWorkDir;

const QString valid1 = QStringLiteral("IDA_E_B50L10Z45.gif");
const QString valid2 = QStringLiteral("IDA_E_B50L11Z45.gif");
const QString longValid =
    QStringLiteral("IDA_E_B46!") + QString(228, u'0') + QStringLiteral("L10Z45.gif");

QByteArray pngBytes()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A GIF header that claims 65535 x 65535 pixels, followed by a tiny image.
QByteArray giantGif()
{
    QByteArray gif = testsupport::makeGif(2, 2);
    gif[6] = char(0xff);
    gif[7] = char(0xff);
    gif[8] = char(0xff);
    gif[9] = char(0xff);
    return gif;
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
        TempWorkDir::write(QStringLiteral("outside.txt"), "not to be touched");
        const QByteArray gif = testsupport::makeGif(64, 64);
        const std::map<QString, QByteArray> files{
            {valid1, gif},
            {valid2, testsupport::makeGif(64, 64, 2)},
            {longValid, gif},
            {QStringLiteral("IDA_E_B48L10Z45.gif"), {}},                       // zero bytes
            {QStringLiteral("IDA_E_B48L11Z45.gif"), gif.left(gif.size() / 2)}, // cut off
            {QStringLiteral("IDA_E_B48L12Z45.gif"), giantGif()},
            {QStringLiteral("IDA_E_B49L10Z45.gif"), pngBytes()}, // a PNG by another name
            {QStringLiteral("notes.gif"), "just some text"},
            {QStringLiteral("IDA_E_B 48L13Z45.gif"), gif}, // a blank in a field
            {QStringLiteral("Karte München.gif"), gif},
            {QStringLiteral("IDA_E_Z45L10B48.gif"), gif}, // markers out of order
            {QStringLiteral("IDA_E_BxxLyyZzz.gif"), gif}, // no numbers
            {QStringLiteral("IDA_E_B46L11Z45.gif"), gif}, // differs only in case
            {QStringLiteral("IDA_E_B46L11Z45.GIF"), gif},
            {QString(246, u'x') + QStringLiteral(".gif"), gif}, // 250 characters
        };
        for (const auto& [name, bytes] : files) {
            TempWorkDir::write(QStringLiteral("mymaps/") + name, bytes);
        }
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps/x.gif")));
        if (::geteuid() != 0) { // permissions do not bite for root
            const QString locked = QStringLiteral("mymaps/IDA_E_B45L10Z45.gif");
            TempWorkDir::write(locked, gif);
            QFile::setPermissions(locked, QFileDevice::Permissions());
        }
        ASSERT_EQ(::symlink("nowhere.gif", "mymaps/IDA_E_B47L10Z45.gif"), 0);
        ASSERT_EQ(::symlink("IDA_E_B47L11Z45.gif", "mymaps/IDA_E_B47L11Z45.gif"), 0);
        before = snapshot();
    }

    // Every file's bytes, except the calibration files the programs may write.
    std::map<QString, QByteArray> snapshot() const
    {
        std::map<QString, QByteArray> files;
        QDirIterator it(QStringLiteral("."), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.endsWith(QStringLiteral(".map")) && QFileInfo(path).isReadable()) {
                files[path] =
                    QCryptographicHash::hash(TempWorkDir::read(path), QCryptographicHash::Sha1);
            }
        }
        return files;
    }

    TempWorkDir work;
    testsupport::RecordingDialogs dialogs;
    std::map<QString, QByteArray> before;
};

TEST_F(HostileFolder, PinmarkWritesEveryTileAndListsTheRest)
{
    pinmark::Form1 form(dialogs);
    ASSERT_EQ(form.Form_Load(), std::nullopt);
    EXPECT_EQ(snapshot(), before);
    for (const char* map : {"IDA_E_B50L10Z45.map", "IDA_E_B50L11Z45.map", "IDA_E_B48L12Z45.map",
                            "IDA_E_B46L11Z45.map", "IDA_E_B46L11Z45.GIF.map"}) {
        EXPECT_TRUE(QFileInfo(QStringLiteral("mymaps/") + QString::fromLatin1(map)).isFile())
            << map;
    }
    ASSERT_EQ(dialogs.messages.size(), 2);
    for (const char* skipped : {"notes.gif", "Karte München.gif", "IDA_E_Z45L10B48.gif",
                                "IDA_E_BxxLyyZzz.gif", "IDA_E_B 48L13Z45.gif"}) {
        EXPECT_TRUE(dialogs.messages[0].contains(QString::fromUtf8(skipped))) << skipped;
    }
    EXPECT_FALSE(dialogs.messages[0].contains(u"x.gif\n"));
    // Only tile names got calibration files (Pinmark never opens the images, so the locked
    // one gets its file too).
    const int tileNames = ::geteuid() != 0 ? 10 : 9;
    EXPECT_EQ(QDir(QStringLiteral("mymaps")).entryList({"*.map"}, QDir::Files).size(), tileNames);
}

TEST_F(HostileFolder, TramselStepsBetweenTheValidTilesAndNamesBrokenOnes)
{
    tramsel::Form1 form(dialogs);
    ASSERT_EQ(form.Form_Load(), std::nullopt);
    form.show();
    // The list begins with a name that is no tile name; the viewer starts on the first tile
    // (the locked one where permissions bite) and moves from there.
    const bool locked = ::geteuid() != 0;
    EXPECT_EQ(form.tileName(form.mapindex()),
              locked ? QStringLiteral("IDA_E_B45L10Z45.gif") : longValid);
    dialogs.messages.clear();
    QTest::keyClick(&form, locked ? 'i' : 'k');
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u' ').toStdString();
    // Of two names that differ only in case, the upper-case one comes first in the list.
    EXPECT_EQ(form.windowTitle(), (locked ? longValid : QStringLiteral("IDA_E_B46L11Z45.GIF")) +
                                      u' ' + tramsel::designCaption);
    for (const char key : {'i', 'm', 'j', 'k', 'k', 'i', 'i', 'm', 'm', 'j', ' ', 'k', ' '}) {
        QTest::keyClick(&form, key);
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(form.isVisible());
    // Up, down, west and east through broken and missing neighbours: the moves end on the tile
    // of 46 and 11 (the upper-case name, first in the list), with the locked tile or without.
    EXPECT_EQ(form.windowTitle(), QStringLiteral("IDA_E_B46L11Z45.GIF ") + tramsel::designCaption);
}

TEST_F(HostileFolder, BrontileShowsTheValidTilesAndListsTheBrokenOnes)
{
    // One more valid tile, so that the rows below hold the broken tiles too (49: a PNG; 48: zero
    // bytes, cut off, a giant; 47: two bad links).
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B49L11Z45.gif"), testsupport::makeGif(64, 64));
    before = snapshot();
    brontile::Form1 form(dialogs);
    ASSERT_EQ(form.Form_Load(), std::nullopt);
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(dialogs.messages.size(), 2) << dialogs.messages.join(u'\n').toStdString();
    // Two names that differ only in case lie in one place: the second is named, not shown.
    EXPECT_EQ(dialogs.messages.last(),
              brontile::readyLeavingOutMessage({QStringLiteral("IDA_E_B46L11Z45.gif")}));
    // Exactly the tiles that cannot be decoded, each once with its reason: the empty file and
    // the giant. Qt decodes the PNG by its content and the cut-off GIF as far as it goes.
    QStringList lines = dialogs.messages.first().split(u'\n');
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("These tiles could not be shown as pictures:"));
    ASSERT_EQ(lines.size(), 2) << dialogs.messages.first().toStdString();
    const QStringList broken{QStringLiteral("mymaps/IDA_E_B48L10Z45.gif"),
                             QStringLiteral("mymaps/IDA_E_B48L12Z45.gif")};
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].startsWith(broken[i] + QStringLiteral(" (")) &&
                    lines[i].endsWith(u')'))
            << lines[i].toStdString();
    }
    // The grid starts at 50 north: the two valid tiles of that row come first, with pictures.
    ASSERT_GE(form.images().size(), 2u);
    EXPECT_TRUE(form.images()[0]->hasPicture());
    EXPECT_TRUE(form.images()[1]->hasPicture());
}

} // namespace
