#include "common/messageboxdialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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
    return questionWith(text, withCancel, preset, {});
}

Dialogs::Answer MessageBoxDialogs::questionWith(const QString& text, bool withCancel, Answer preset,
                                                const QString& other)
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
    const QAbstractButton* further =
        other.isEmpty() ? nullptr : box.addButton(other, QMessageBox::AcceptRole);
    const int chosen = box.exec();
    if (further != nullptr && box.clickedButton() == further) {
        return Answer::Other;
    }
    switch (chosen) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return withCancel ? Answer::Cancel : Answer::No;
    }
}

QString MessageBoxDialogs::openFile(const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, QString(), filter);
}

} // namespace common
