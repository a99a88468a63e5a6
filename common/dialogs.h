#pragma once

#include <QString>

namespace common {

// The seam through which every program talks to the user outside its window: modal messages
// with one OK button, titled with the program's name. The programs use MessageBoxDialogs;
// tests use a recorder, so nothing ever blocks on a dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows |text| and returns when the user has dismissed it.
    virtual void message(const QString& text) = 0;
};

} // namespace common
