#include "form1.h"
#include "messageboxdialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Brontile"));
    brontile::Form1 window(dialogs);
    if (!window.Form_Load()) {
        return 0;
    }
    window.show();
    return QApplication::exec();
}
