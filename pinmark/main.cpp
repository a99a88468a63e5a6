#include "common/commandline.h"
#include "common/messageboxdialogs.h"
#include "pinmark/form1.h"
#include "pinmark/messages.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // Answered before Qt starts, so that they need no display.
    if (const auto answer = common::versionOrHelp(common::argumentsOf(argc, argv),
                                                  QStringLiteral("pinmark"), pinmark::helpText)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    common::MessageBoxDialogs dialogs(QStringLiteral("Pinmark"));
    pinmark::Form1 window(dialogs);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    return QApplication::exec();
}
