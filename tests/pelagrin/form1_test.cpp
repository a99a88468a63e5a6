#include "common/pictureview.h"
#include "formfixture.h"
#include "gifmaker.h"
#include "leftovers.h"
#include "pelagrin/messages.h"
#include "pelagrin/startup.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRadioButton>

#include <unistd.h>

namespace {

using testsupport::FakeReply;
using testsupport::TempWorkDir;

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

using PelagrinStartup = PelagrinWindow;

TEST_F(PelagrinStartup, ConnectionTestRequestToTheByte)
{
    ASSERT_TRUE(load());
    ASSERT_EQ(service.requests().size(), 1);
    EXPECT_EQ(service.requests().front(),
              QStringLiteral("GET /pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP=%2047.651931,%209.476379"
                             "&Lang=EURO809&Alti=%2050000&Size=320,320&Offs=%200,%200&MapS=0&Pins="
                             "%7C2ccf%7C HTTP/1.1"));
}

struct StartCase {
    const char* name;
    QLocale::Language language;
    const char* existing; // entry present before the start, or ""
    bool existingIsFolder;
    bool expectMessage;
    bool expectCreated; // "MyMaps" made by the start
};

class FirstStart : public PelagrinWindow, public ::testing::WithParamInterface<StartCase> {};

TEST_P(FirstStart, MessageFolderAndBoxes)
{
    const StartCase c = GetParam();
    const LocaleScope locale{QLocale(c.language)};
    const QString existing = QString::fromLatin1(c.existing);
    if (!existing.isEmpty() && c.existingIsFolder) {
        ASSERT_TRUE(QDir().mkdir(existing));
    } else if (!existing.isEmpty()) {
        TempWorkDir::write(existing, "plain file");
    }
    ASSERT_TRUE(load());
    EXPECT_EQ(dialogs.messages.contains(pelagrin::decimalCommaMessage), c.expectMessage);
    EXPECT_EQ(dialogs.messages.size(), c.expectMessage ? 1 : 0);
    EXPECT_EQ(QFileInfo(QStringLiteral("MyMaps")).isDir(), c.expectCreated || existing == "MyMaps");
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2)
        << "one tile folder and the preview file";
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), QStringLiteral("47.651931"));
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), QStringLiteral("9.476379"));
    EXPECT_EQ(control<QLineEdit>("Text5")->text(), QStringLiteral("50000"));
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    // The boxes read back as the start-up values whatever digits the locale writes.
    click("Command1");
    EXPECT_TRUE(service.decodedQueries().last().contains(
        u"CenP= 47.651931, 9.476379&Lang=EUR0407&Alti= 50000&"))
        << service.decodedQueries().last().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Locales, FirstStart,
    ::testing::Values(StartCase{"PointLocale", QLocale::English, "", false, false, true},
                      StartCase{"CommaLocale", QLocale::German, "", false, true, true},
                      StartCase{"SecondStart", QLocale::German, "mymaps", true, false, false},
                      StartCase{"OtherCase", QLocale::German, "MYMAPS", true, false, false},
                      StartCase{"PlainFile", QLocale::German, "mymaps", false, false, false},
                      // Locales with their own digits or decimal sign.
                      StartCase{"Arabic", QLocale::Arabic, "", false, false, true},
                      StartCase{"Persian", QLocale::Persian, "", false, false, true},
                      StartCase{"Bengali", QLocale::Bengali, "", false, false, true},
                      StartCase{"Marathi", QLocale::Marathi, "", false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConnectionCase {
    const char* name;
    FakeReply reply;
    bool usable;
};

class ConnectionTest : public PelagrinWindow,
                       public ::testing::WithParamInterface<ConnectionCase> {};

TEST_P(ConnectionTest, ShortOrFailedPreviewEndsBeforeTheWindowShows)
{
    service.setDefault(GetParam().reply);
    const bool shown = load();
    EXPECT_EQ(shown, GetParam().usable);
    EXPECT_EQ(exitCode.has_value(), !GetParam().usable);
    EXPECT_EQ(QFileInfo::exists(pelagrin::previewFile), GetParam().usable);
    if (GetParam().usable) {
        EXPECT_TRUE(dialogs.messages.isEmpty());
    } else {
        EXPECT_EQ(dialogs.messages,
                  QStringList{pelagrin::noConnectionMessage +
                              QStringLiteral("\nMap service: http://%1/").arg(service.address())});
        EXPECT_EQ(exitCode, 1);
        EXPECT_FALSE(form->isVisible());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Previews, ConnectionTest,
    ::testing::Values(
        ConnectionCase{
            "Exactly3000",
            FakeReply::bytes(testsupport::padGif(testsupport::makeFlatGif(320, 320), 3000)), true},
        ConnectionCase{
            "Only2999",
            FakeReply::bytes(testsupport::padGif(testsupport::makeFlatGif(320, 320), 2999)), false},
        ConnectionCase{"Empty", FakeReply::bytes({}), false},
        ConnectionCase{"NoGif", FakeReply::bytes(QByteArray(4000, 'x')), false},
        ConnectionCase{"ErrorStatus", FakeReply::error(503), false},
        ConnectionCase{"NoAnswer", FakeReply::never(), false},
        // A byte at a time keeps no transfer alive: the start-up ends with its message.
        ConnectionCase{"Trickle", FakeReply::trickle(testsupport::makeGif(320, 320), 60), false}),
    [](const auto& info) { return std::string(info.param.name); });

// A start-up that a redirect sends to another host names that host.
TEST_F(PelagrinWindow, AStartUpRedirectedElsewhereNamesTheOtherHost)
{
    service.setDefault(FakeReply::redirect("http://127.0.0.2:9/pub/agent.dll"));
    EXPECT_FALSE(load());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().startsWith(pelagrin::noConnectionMessage));
    EXPECT_TRUE(dialogs.messages.front().endsWith(
        QStringLiteral("sent the request on to another host, http://127.0.0.2, which is not "
                       "followed.")))
        << dialogs.messages.front().toStdString();
}

class UnwritableFolder : public PelagrinWindow, public ::testing::WithParamInterface<bool> {};

TEST_P(UnwritableFolder, IsNamedNotTakenForNoConnection)
{
    const bool vanished = GetParam();
    const QString folder = work.path();
    if (vanished) {
        ASSERT_TRUE(QDir().rmdir(folder)); // the working folder is removed under the program
    } else {
        if (::geteuid() == 0) {
            GTEST_SKIP() << "permissions do not bite for root";
        }
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    EXPECT_FALSE(load());
    ASSERT_EQ(dialogs.messages.size(), 1);
    const QString shown = vanished ? QStringLiteral(".") : folder;
    EXPECT_TRUE(dialogs.messages.front().startsWith(
        QStringLiteral("Pelagrin cannot write into its working folder %1 (").arg(shown)))
        << dialogs.messages.front().toStdString();
    EXPECT_EQ(exitCode, 1);
    EXPECT_TRUE(service.requests().isEmpty());
    if (vanished) {
        ASSERT_TRUE(QDir().mkdir(folder)); // for the fixture's clean-up
    } else {
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, UnwritableFolder, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "Vanished" : "ReadOnly");
                         });

TEST_F(PelagrinStartup, LeftoversOfAKilledRunGoAtTheNextStart)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("MyMaps")));
    const pid_t ended = testsupport::endedProcessId();
    const auto temporary = [](pid_t pid) { return testsupport::temporaryNameOf(pid); };
    const QStringList stale = {temporary(ended), QStringLiteral("MyMaps/") + temporary(ended)};
    const QString running = QStringLiteral("MyMaps/") + temporary(1);
    for (const QString& path : stale + QStringList{running}) {
        TempWorkDir::write(path, "half a tile");
    }
    ASSERT_TRUE(load());
    for (const QString& path : stale) {
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(running)) << "a writer that runs keeps its file";
}

TEST_F(PelagrinStartup, PreviewShownAtNaturalSize)
{
    ASSERT_TRUE(load());
    const auto* image = control<common::PictureView>("Image1");
    EXPECT_FALSE(image->stretch());
    EXPECT_EQ(image->size(), QSize(320, 320));
}

TEST_F(PelagrinStartup, ClosingDeletesThePreviewButKeepsTheTiles)
{
    ASSERT_TRUE(load());
    TempWorkDir::write(QStringLiteral("MyMaps/IDA_E_B48!50L11!25Z150.gif"), "tile");
    form->close();
    EXPECT_FALSE(QFileInfo::exists(pelagrin::previewFile));
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("MyMaps/IDA_E_B48!50L11!25Z150.gif")));
    form->Form_Unload(); // a preview file already gone is no error
}

struct OffsetCase {
    const char* typed;
    const char* shown;
};

class OffsetRule : public PelagrinWindow, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(OffsetRule, ZeroBecomes45InBothBoxes)
{
    ASSERT_TRUE(load());
    for (const char* box : {"Text3", "Text4"}) {
        type(box, QString::fromUtf8(GetParam().typed));
        EXPECT_EQ(control<QLineEdit>(box)->text(), QString::fromUtf8(GetParam().shown)) << box;
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, OffsetRule,
                         ::testing::Values(OffsetCase{"0", "45"}, OffsetCase{"0.0", "45"},
                                           OffsetCase{"abc", "45"}, OffsetCase{"-", "45"},
                                           OffsetCase{"0,", "45"}, OffsetCase{"", ""},
                                           OffsetCase{"0.5", "0.5"}, OffsetCase{"-2", "-2"},
                                           OffsetCase{"90", "90"}));

TEST_F(PelagrinStartup, TypingAZeroIntoAnOffsetBoxGives45)
{
    ASSERT_TRUE(load());
    auto* box = control<QLineEdit>("Text3");
    box->clear();
    EXPECT_EQ(box->text(), QString());
    QTest::keyClicks(box, QStringLiteral("0"));
    EXPECT_EQ(box->text(), QStringLiteral("45"));
}

} // namespace
