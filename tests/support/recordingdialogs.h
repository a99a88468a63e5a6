#pragma once

#include "dialogs.h"

#include <QStringList>

#include <functional>

namespace testsupport {

// The dialogs seam for tests: records every message and the request to end the program,
// never blocks. |onMessage| runs when a message is "shown", so a test can act while a handler
// waits for the user.
class RecordingDialogs : public common::Dialogs {
public:
    void message(const QString& text) override
    {
        messages.append(text);
        if (onMessage) {
            onMessage(text);
        }
    }
    void endProgram(int code) override
    {
        ended = true;
        exitCode = code;
    }

    QStringList messages;
    bool ended = false;
    int exitCode = 0;
    std::function<void(const QString&)> onMessage;
};

} // namespace testsupport
