#pragma once

#include <QString>

namespace common {

// The seam through which every program talks to the user outside its window: modal messages
// with one OK button, titled with the program's name, and ending the program at once. The
// programs use MessageBoxDialogs; tests use a recorder, so nothing ever blocks on a dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows |text| and returns when the user has dismissed it.
    virtual void message(const QString& text) = 0;

    // Ends the program at once with |exitCode|; no further handler of any window runs. The
    // caller returns right after, so a recorder that does not end anything is safe.
    virtual void endProgram(int exitCode) = 0;
};

} // namespace common
