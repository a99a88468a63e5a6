#pragma once

#include "common/dialogs.h"

namespace common {

// The production dialogs: QMessageBox, titled with the program's name.
class MessageBoxDialogs : public Dialogs {
public:
    explicit MessageBoxDialogs(QString title) : title_(std::move(title)) {}

    void message(const QString& text) override;
    Answer question(const QString& text, bool withCancel, Answer preset) override;
    Answer questionWith(const QString& text, bool withCancel, Answer preset,
                        const QString& other) override;
    QString openFile(const QString& caption, const QString& filter) override;

private:
    QString title_;
};

} // namespace common
