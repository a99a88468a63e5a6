#include "brontile/form1.h"
#include "common/messageboxdialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Brontile"));
    brontile::Form1 window(dialogs);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    return QApplication::exec();
}
