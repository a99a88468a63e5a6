#include "common/commandline.h"

namespace common {

std::optional<QString> versionOrHelp(const QStringList& arguments, const QString& program,
                                     const QString& help)
{
    for (const QString& argument : arguments) {
        if (argument == u"--version") {
            return program + u' ' + QStringLiteral(MAPSUITE_VERSION) + u'\n';
        }
        if (argument == u"--help") {
            return help.endsWith(u'\n') ? help : help + u'\n';
        }
    }
    return std::nullopt;
}

std::optional<QString> unknownArgument(const QStringList& arguments)
{
    // Qt's own options, which QApplication takes from the command line.
    static const QStringList withValue{
        QStringLiteral("-platform"),      QStringLiteral("-platformpluginpath"),
        QStringLiteral("-platformtheme"), QStringLiteral("-plugin"),
        QStringLiteral("-display"),       QStringLiteral("-geometry"),
        QStringLiteral("-style"),         QStringLiteral("-stylesheet"),
        QStringLiteral("-session"),       QStringLiteral("-name"),
        QStringLiteral("-title"),         QStringLiteral("-qwindowgeometry"),
        QStringLiteral("-qwindowtitle"),  QStringLiteral("-qwindowicon")};
    static const QStringList alone{QStringLiteral("-reverse"), QStringLiteral("-widgetcount"),
                                   QStringLiteral("-nograb"),  QStringLiteral("-dograb"),
                                   QStringLiteral("-sync"),    QStringLiteral("--help"),
                                   QStringLiteral("--version")};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const QString name = argument.section(u'=', 0, 0);
        if (withValue.contains(name) && name != argument) {
            continue; // -style=fusion
        }
        if (withValue.contains(argument) && i + 1 < arguments.size()) {
            ++i;
            continue;
        }
        if (!alone.contains(argument)) {
            return argument;
        }
    }
    return std::nullopt;
}

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

QString usageLine(const QString& program, const std::vector<options::Option>& table,
                  const QString& after)
{
    constexpr std::size_t oneLine = 100'000;
    const QString synopsis = QString::fromStdString(options::synopsis(table, 0, oneLine));
    return QStringLiteral("usage: ") + program +
           (synopsis.isEmpty() ? QString() : u' ' + synopsis) + after;
}

QString windowProgramHelp(const QString& program, const QString& about)
{
    const auto table = options::withHelpAndVersion({});
    return helpText(usageLine(program, table), about, table, 13);
}

QString helpText(const QString& usage, const QString& about,
                 const std::vector<options::Option>& table, std::size_t column)
{
    // "Usage:" and "Options:" as GNU programs write them, which help2man reads the manual
    // pages from.
    QString usageLine = usage;
    if (usageLine.startsWith(u"usage:")) {
        usageLine[0] = u'U';
    }
    return usageLine + u'\n' + about + QStringLiteral("\nOptions:\n") +
           QString::fromStdString(options::optionLines(table, column));
}

options::Refusal parseArguments(const std::vector<options::Option>& table,
                                const QStringList& arguments, const options::Wording& wording,
                                const std::function<options::Refusal(const std::string&)>& operand)
{
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(arguments.size()));
    for (const QString& argument : arguments) {
        list.push_back(argument.toStdString());
    }
    return options::parse(table, list, wording, operand);
}

} // namespace common
