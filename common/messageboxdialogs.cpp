#include "common/messageboxdialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace common {

void MessageBoxDialogs::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title_, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

Dialogs::Answer MessageBoxDialogs::question(const QString& text, bool withCancel, Answer preset)
{
    const auto button = [](Answer a) {
        return a == Answer::Yes  ? QMessageBox::Yes
               : a == Answer::No ? QMessageBox::No
                                 : QMessageBox::Cancel;
    };
    QMessageBox box(QMessageBox::Question, title_, text,
                    withCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                               : QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(button(preset));
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return withCancel ? Answer::Cancel : Answer::No;
    }
}

} // namespace common
