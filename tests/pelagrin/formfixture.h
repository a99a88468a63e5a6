#pragma once

#include "fakemapservice.h"
#include "pelagrin/form1.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A downloader window in its own working directory, against a fake map service, with its
// messages recorded.
class PelagrinWindow : public ::testing::Test {
protected:
    // Creates the window and runs its start-up, then shows the window unless the program
    // ended; whether it shows.
    bool load()
    {
        form = std::make_unique<pelagrin::Form1>(service.address(), dialogs, transferTimeoutMs);
        QSignalSpy ready(form.get(), &pelagrin::Form1::ready);
        QSignalSpy ended(form.get(), &pelagrin::Form1::ended);
        exitCode = form->Form_Load();
        if (exitCode) {
            return false;
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !ready.isEmpty() || !ended.isEmpty(); }, 10'000));
        if (!ended.isEmpty()) {
            exitCode = ended.front().front().toInt();
            return false;
        }
        form->show();
        return true;
    }

    // How long a transfer may receive next to nothing: short, so that a stalled one fails soon.
    int transferTimeoutMs = 400;

    // Waits until what the window started (a fetch, a region run) has ended.
    void settle()
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const auto a = form->activity();
                return (a == pelagrin::Activity::Idle && !form->checkingSources()) ||
                       a == pelagrin::Activity::Closed;
            },
            20'000));
    }

    template <typename T = QWidget> T* control(const char* name) const
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void type(const char* box, const QString& text) { control<QLineEdit>(box)->setText(text); }
    // Clicks |button|; when the window was idle, waits for what the click started to end, as
    // a user would before the next click.
    void click(const char* button)
    {
        const bool idle = form->activity() == pelagrin::Activity::Idle;
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
        if (idle) {
            settle();
        }
    }

    testsupport::TempWorkDir work;
    testsupport::FakeMapService service;
    testsupport::RecordingDialogs dialogs;
    std::unique_ptr<pelagrin::Form1> form;
    std::optional<int> exitCode; // of a start-up that ended the program
};
