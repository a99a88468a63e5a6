#include "common/commandline.h"
#include "common/messageboxdialogs.h"
#include "pelagrin/form1.h"
#include "pelagrin/options.h"

#include <QApplication>

#include <cstdio>

namespace {

int refuse(const pelagrin::Refusal& refusal)
{
    std::fprintf(stderr, "%s\n", qPrintable(refusal.text));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Read before Qt starts, so that "--help", "--version" and a bad value need no display. An
    // unknown argument with a single dash may be one of Qt's (-platform, -style ...): the command
    // line is judged again once Qt has taken its own out.
    const QStringList arguments = common::argumentsOf(argc, argv);
    if (const auto answer =
            common::versionOrHelp(arguments, QStringLiteral("pelagrin"), pelagrin::helpText)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    auto parsed = pelagrin::parseArguments(arguments);
    if (const auto* refusal = std::get_if<pelagrin::Refusal>(&parsed);
        refusal != nullptr && !refusal->maybeQts) {
        return refuse(*refusal);
    }
    QApplication app(argc, argv);
    if (std::holds_alternative<pelagrin::Refusal>(parsed)) {
        parsed = pelagrin::parseArguments(QApplication::arguments().mid(1));
        if (const auto* refusal = std::get_if<pelagrin::Refusal>(&parsed)) {
            return refuse(*refusal);
        }
    }
    common::MessageBoxDialogs dialogs(QStringLiteral("Pelagrin"));
    pelagrin::Form1 window(QStringLiteral(PELAGRIN_MAP_SERVICE), dialogs);
    window.setConnections(std::get<pelagrin::Options>(parsed).connections);
    if (const auto exitCode = window.Form_Load()) {
        return *exitCode;
    }
    window.show();
    return QApplication::exec();
}
