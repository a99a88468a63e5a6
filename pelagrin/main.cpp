#include "common/commandline.h"
#include "common/display.h"
#include "common/errortext.h"
#include "common/messageboxdialogs.h"
#include "pelagrin/form1.h"
#include "pelagrin/options.h"

#include <QApplication>

#include <cstdio>

namespace {

int refuse(const common::Error& error)
{
    std::fprintf(stderr, "%s\n", error.text.c_str());
    return error.status;
}

} // namespace

int main(int argc, char** argv)
{
    // Read before Qt starts, so that "--help", "--version" and a bad value need no display. An
    // argument with a single dash may be one of Qt's (-platform, -style ...): the command line
    // is judged again once Qt has taken its own out.
    const QStringList arguments = common::argumentsOf(argc, argv);
    if (const auto answer =
            common::versionOrHelp(arguments, QStringLiteral("pelagrin"), pelagrin::helpText)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    auto parsed = pelagrin::parseArguments(arguments);
    if (!parsed && !pelagrin::hasSingleDashArgument(arguments)) {
        return refuse(parsed.error());
    }
    common::DisplayHold display(arguments);
    if (const auto& problem = display.problem()) {
        std::fprintf(stderr, "pelagrin: %s\n", qPrintable(*problem));
        return 1;
    }
    QApplication app(argc, argv);
    display.release();
    if (!parsed) {
        parsed = pelagrin::parseArguments(QApplication::arguments().mid(1));
        if (!parsed) {
            return refuse(parsed.error());
        }
    }
    common::MessageBoxDialogs dialogs(QStringLiteral("Pelagrin"));
    pelagrin::Form1 window(parsed->service.isEmpty() ? QStringLiteral(PELAGRIN_MAP_SERVICE)
                                                     : parsed->service,
                           dialogs);
    window.setConnections(parsed->connections);
    window.setRefreshDays(parsed->refreshDays);
    // The window shows once its start-up preview has arrived; without a usable connection the
    // program ends with the code the start-up gives.
    // A message box closed before the window shows is no last window closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &pelagrin::Form1::ready, &window, [&window, &parsed] {
        window.show();
        QApplication::setQuitOnLastWindowClosed(true);
        if (!parsed->route.isEmpty()) {
            window.useRoute(parsed->route, parsed->routeWidthKm,
                            parsed->zoom.value_or(pelagrin::defaultRouteZoom));
        }
    });
    QObject::connect(&window, &pelagrin::Form1::ended, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    return QApplication::exec();
}
