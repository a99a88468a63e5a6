#include "common/messageboxdialogs.h"
#include "tramsel/form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Tramsel"));
    tramsel::Form1 window(dialogs);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    window.setFocus();
    return QApplication::exec();
}
