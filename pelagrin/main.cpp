#include "form1.h"
#include "messageboxdialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Pelagrin"));
    pelagrin::Form1 window(QStringLiteral(PELAGRIN_MAP_SERVICE), dialogs);
    if (!window.Form_Load()) {
        return 1;
    }
    window.show();
    return QApplication::exec();
}
