#include "common/messageboxdialogs.h"
#include "pinmark/form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Pinmark"));
    pinmark::Form1 window(dialogs);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    return QApplication::exec();
}
