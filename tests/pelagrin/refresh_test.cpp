// Aged tiles refreshed against the real map service: what it says is unchanged is kept without
// a picture drawn, what it draws anew replaces them.
#include "buildpaths.h"
#include "pelagrin/form1.h"
#include "recordingdialogs.h"
#include "serviceprocess.h"
#include "tempworkdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Answer = common::Dialogs::Answer;

class ServiceRefresh : public ::testing::Test {
protected:
    // A window on the service |service|, with the twelve tiles of 50/0 to 48/3 at zoom 45 set.
    void open(const testsupport::ServiceProcess& service)
    {
        form = std::make_unique<pelagrin::Form1>(QStringLiteral("127.0.0.1:%1").arg(service.port()),
                                                 dialogs);
        ASSERT_FALSE(form->Form_Load());
        wait();
        set("Text5", "45");
        set("Text1", "50");
        set("Text2", "0");
        form->Command2_Click();
        set("Text1", "48");
        set("Text2", "3");
        form->Command3_Click();
    }

    void set(const char* box, const char* text)
    {
        form->findChild<QLineEdit*>(QString::fromLatin1(box))->setText(QString::fromLatin1(text));
    }

    void wait()
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return form->activity() == pelagrin::Activity::Idle && !form->checkingSources();
            },
            60'000));
    }

    QFileInfoList tiles() const
    {
        return QDir(QStringLiteral("MyMaps")).entryInfoList({"*.gif"}, QDir::Files, QDir::Name);
    }

    // Every tile's time set |days| back.
    void age(int days)
    {
        for (const QFileInfo& tile : tiles()) {
            QFile gif(tile.filePath());
            ASSERT_TRUE(gif.open(QIODevice::ReadWrite));
            ASSERT_TRUE(gif.setFileTime(QDateTime::currentDateTimeUtc().addDays(-days),
                                        QFileDevice::FileModificationTime));
        }
    }

    // The refresh: "Refresh older" for every tile in place.
    void refresh()
    {
        age(40);
        form->Command3_Click(); // "Start download" is armed again by the end corner
        dialogs.answers = {Answer::Other};
        form->Command4_Click();
        wait();
    }

    // The statuses the service logged for tiles (1999 x 1999 pictures), in order.
    static QStringList tileStatuses(const std::string& log)
    {
        QFile file(QString::fromStdString(log));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList statuses;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() > 4 && fields[3].contains("1999")) {
                statuses.append(QString::fromLatin1(fields[4]));
            }
        }
        return statuses;
    }

    testsupport::TempWorkDir work;
    testsupport::RecordingDialogs dialogs;
    std::unique_ptr<pelagrin::Form1> form;
};

TEST_F(ServiceRefresh, UnchangedTilesAreKeptAndChangedOnesReplaced)
{
    const std::string log = ::testing::TempDir() + "pelagrin-refresh-access.log";
    {
        testsupport::ServiceProcess service(testsupport::program("mapservice"), {"--log"}, log);
        ASSERT_GT(service.port(), 0);
        open(service);
        form->Command4_Click();
        wait();
        ASSERT_EQ(tiles().size(), 12);
        const QByteArray first = [&] {
            QFile f(tiles().front().filePath());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        refresh();
        EXPECT_EQ(dialogs.others.last(), QStringLiteral("Refresh older"));
        for (const QFileInfo& tile : tiles()) {
            EXPECT_GT(tile.lastModified(), QDateTime::currentDateTimeUtc().addDays(-1))
                << tile.fileName().toStdString();
        }
        QFile again(tiles().front().filePath());
        ASSERT_TRUE(again.open(QIODevice::ReadOnly));
        EXPECT_EQ(again.readAll(), first);
        form.reset();
    }
    EXPECT_EQ(tileStatuses(log),
              QStringList(12, QStringLiteral("200")) + QStringList(12, QStringLiteral("304")));

    // The same source draws the pictures anew: each refreshed tile is replaced.
    testsupport::ServiceProcess changed(testsupport::program("mapservice"),
                                        {"--log", "--legend", "none"}, log);
    ASSERT_GT(changed.port(), 0);
    open(changed);
    refresh();
    EXPECT_EQ(tileStatuses(log), QStringList(12, QStringLiteral("200")));
    EXPECT_TRUE(dialogs.messages.filter(QStringLiteral("could not be refreshed")).isEmpty());
}

} // namespace
