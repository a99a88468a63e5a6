#pragma once

#include "common/dialogs.h"

#include <QStringList>

#include <functional>

namespace testsupport {

// The dialogs seam for tests: records every message, never blocks. |onMessage| runs when a message
// is "shown", so a test can act while a handler waits for the user.
class RecordingDialogs : public common::Dialogs {
public:
    void message(const QString& text) override
    {
        messages.append(text);
        if (onMessage) {
            onMessage(text);
        }
    }

    QStringList messages;
    std::function<void(const QString&)> onMessage;
};

} // namespace testsupport
