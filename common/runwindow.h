#pragma once

// How the single-window programs start: "--help" and "--version" answered before Qt starts
// (they need no display), any other argument but Qt's own refused (status 2, with the usage
// line), a display that takes connections waited for, then the window's
// start-up, which may end the program with its exit code, then the window until it closes.
#include "common/commandline.h"
#include "common/display.h"
#include "common/messageboxdialogs.h"

#include <QApplication>

#include <cstdio>

namespace common {

// |Window| is made from the dialogs seam and has Form_Load() returning the exit code when the
// program ends there.
template <typename Window>
int runWindow(int argc, char** argv, const QString& command, const QString& title,
              const QString& help)
{
    const QStringList arguments = argumentsOf(argc, argv);
    if (const auto answer = versionOrHelp(arguments, command, help)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    if (const auto unknown = unknownArgument(arguments)) {
        std::fprintf(stderr, "%s: unknown argument %s\n%s\n", qPrintable(command),
                     qPrintable(*unknown), qPrintable(help.section(u'\n', 0, 0)));
        return 2;
    }
    DisplayHold display(arguments);
    if (const auto& problem = display.problem()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(command), qPrintable(*problem));
        return 1;
    }
    QApplication app(argc, argv);
    display.release();
    MessageBoxDialogs dialogs(title);
    Window window(dialogs);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    window.setFocus();
    return QApplication::exec();
}

} // namespace common
