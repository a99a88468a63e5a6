#pragma once

#include "dialogs.h"

#include <QElapsedTimer>
#include <QWidget>

class QLabel;

namespace pinmark {

// The calibration generator's window: it runs the whole batch at start-up and then only shows
// the count until it is closed.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(common::Dialogs& dialogs, QWidget* parent = nullptr);

    // Runs the batch. Returns false when the program has been ended (no tile folder).
    bool Form_Load();

private:
    void showProgress(int written, bool force);

    common::Dialogs& dialogs_;
    QElapsedTimer sinceRedraw_;
    QLabel* Label1;
};

} // namespace pinmark
