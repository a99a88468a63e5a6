#include "pelagrin/options.h"

#include "common/errortext.h"

#include <algorithm>

namespace pelagrin {

namespace {

common::Error refused(const QString& reason)
{
    return common::makeError(common::ErrorKind::BadInput,
                             QStringLiteral("pelagrin: ") + reason + u'\n' + usageText, 2);
}

} // namespace

bool hasSingleDashArgument(const QStringList& arguments)
{
    return std::any_of(arguments.begin(), arguments.end(), [](const QString& argument) {
        return argument.startsWith(u'-') && !argument.startsWith(u"--");
    });
}

common::Result<Options> parseArguments(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString value;
        if (argument == u"--connections") {
            if (i + 1 == arguments.size()) {
                return refused(QStringLiteral("--connections needs a number"));
            }
            value = arguments[++i];
        } else if (argument.startsWith(u"--connections=")) {
            value = argument.mid(argument.indexOf(u'=') + 1);
        } else {
            return refused(QStringLiteral("unknown argument \"%1\"").arg(argument));
        }
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1 || n > maxConnections) {
            return refused(QStringLiteral("--connections takes a number from 1 to %1, not \"%2\"")
                               .arg(maxConnections)
                               .arg(value));
        }
        options.connections = n;
    }
    return options;
}

} // namespace pelagrin
