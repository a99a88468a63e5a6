#pragma once

#include "common/dialogs.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace testsupport {

// The dialogs seam for tests: records every message and question, never blocks. |onMessage| runs
// when a message is "shown", so a test can act while a handler waits for the user. Questions
// take the answers queued in |answers|, then the default button.
class RecordingDialogs : public common::Dialogs {
public:
    void message(const QString& text) override
    {
        messages.append(text);
        if (onMessage) {
            onMessage(text);
        }
    }

    Answer question(const QString& text, bool withCancel, Answer preset) override
    {
        return questionWith(text, withCancel, preset, {});
    }

    Answer questionWith(const QString& text, bool, Answer preset, const QString& other) override
    {
        others.append(other);
        questions.append(text);
        if (answers.empty()) {
            return preset;
        }
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }

    QString openFile(const QString& caption, const QString&) override
    {
        captions.append(caption);
        if (files.empty()) {
            return {};
        }
        QString file = files.front();
        files.pop_front();
        return file;
    }

    QStringList messages;
    QStringList others;   // the further button of each question; empty for none
    QStringList captions; // of the files asked for
    std::deque<QString> files;
    QStringList questions;
    std::deque<Answer> answers;
    std::function<void(const QString&)> onMessage;
};

} // namespace testsupport
