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

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

} // namespace common
