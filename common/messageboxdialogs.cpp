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

} // namespace common
