#include "messageboxdialogs.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace common {

void MessageBoxDialogs::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title_, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

void MessageBoxDialogs::endProgram(int exitCode)
{
    // At once, as promised: nothing of the program runs after this.
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

} // namespace common
