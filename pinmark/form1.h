#pragma once

#include "common/dialogs.h"

#include <QElapsedTimer>
#include <QWidget>

#include <optional>

class QLabel;

namespace pinmark {

// The calibration generator's window: it runs the whole batch at start-up and then only shows
// the count until it is closed.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(common::Dialogs& dialogs, QWidget* parent = nullptr);

    // Runs the batch. The program's exit code when it ends here (no tile folder, which a
    // message has told); nothing when the window is to be shown.
    std::optional<int> Form_Load();

private:
    void showProgress(int written, bool force);

    common::Dialogs& dialogs_;
    QElapsedTimer sinceRedraw_;
    QLabel* Label1;
};

} // namespace pinmark
