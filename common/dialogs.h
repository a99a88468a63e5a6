#pragma once

#include <QString>

namespace common {

// The seam through which every program talks to the user outside its window: modal messages
// with one OK button and questions, titled with the program's name. The programs use
// MessageBoxDialogs; tests use a recorder, so nothing ever blocks on a dialog.
class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~Dialogs() = default;

    // Shows |text| and returns when the user has dismissed it.
    virtual void message(const QString& text) = 0;
    // Asks |text| with the buttons Yes and No, and Cancel when |withCancel|; |preset| is the
    // default button. Closing the question without a button (Escape) answers Cancel, or No
    // when there is no Cancel.
    virtual Answer question(const QString& text, bool withCancel, Answer preset) = 0;
};

} // namespace common
