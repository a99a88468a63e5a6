#pragma once

#include <QString>

namespace common {

// The seam through which every program talks to the user outside its window: modal messages
// with one OK button and questions, titled with the program's name. The programs use
// MessageBoxDialogs; tests use a recorder, so nothing ever blocks on a dialog.
class Dialogs {
public:
    // Other: the further button of questionWith.
    enum class Answer { Yes, No, Cancel, Other };

    virtual ~Dialogs() = default;

    // Shows |text| and returns when the user has dismissed it.
    virtual void message(const QString& text) = 0;
    // Asks |text| with the buttons Yes and No, and Cancel when |withCancel|; |preset| is the
    // default button. Closing the question without a button (Escape) answers Cancel, or No
    // when there is no Cancel.
    virtual Answer question(const QString& text, bool withCancel, Answer preset) = 0;
    // As question(), with a further button captioned |other| that answers Other.
    virtual Answer questionWith(const QString& text, bool withCancel, Answer preset,
                                const QString& other) = 0;
    // Asks for a file to open, showing the files |filter| names ("Routes (*.gpx *.kml)");
    // empty when the user chose none.
    virtual QString openFile(const QString& caption, const QString& filter) = 0;
};

} // namespace common
