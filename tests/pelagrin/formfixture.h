#pragma once

#include "fakemapservice.h"
#include "pelagrin/form1.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QLineEdit>
#include <QPushButton>
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
        form = std::make_unique<pelagrin::Form1>(service.address(), dialogs, 400);
        exitCode = form->Form_Load();
        if (!exitCode) {
            form->show();
        }
        return !exitCode;
    }

    template <typename T = QWidget> T* control(const char* name) const
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void type(const char* box, const QString& text) { control<QLineEdit>(box)->setText(text); }
    void click(const char* button)
    {
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }

    testsupport::TempWorkDir work;
    testsupport::FakeMapService service;
    testsupport::RecordingDialogs dialogs;
    std::unique_ptr<pelagrin::Form1> form;
    std::optional<int> exitCode; // of a start-up that ended the program
};
