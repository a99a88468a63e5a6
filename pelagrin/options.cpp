#include "pelagrin/options.h"

#include "common/errortext.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>

namespace pelagrin {

namespace {

common::Error refused(const QString& reason)
{
    return common::makeError(common::ErrorKind::BadInput,
                             QStringLiteral("pelagrin: ") + reason + u'\n' + usageText, 2);
}

// Patterns are anchored with \A and \z: "$" would also match before a final line break.

// Four decimal parts of 0 to 255. A part with a leading zero is no IPv4 address: the resolver
// would read it as octal, so that "127.000.000.010" went to 127.0.0.8.
bool isIpv4(const QString& host)
{
    static const QRegularExpression quad(
        QStringLiteral("\\A([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\z"));
    const QRegularExpressionMatch m = quad.match(host);
    if (!m.hasMatch()) {
        return false;
    }
    for (int i = 1; i <= 4; ++i) {
        const QString part = m.captured(i);
        if (part.toInt() > 255 || (part.size() > 1 && part.startsWith(u'0'))) {
            return false;
        }
    }
    return true;
}

// A host name: dot-separated labels of letters, digits and inner hyphens, the last one not
// all digits (that would be a mistyped IPv4 address).
bool isHostName(const QString& host)
{
    static const QRegularExpression name(
        QStringLiteral("\\A(?=.{1,253}\\z)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\z"));
    static const QRegularExpression digits(QStringLiteral("\\A[0-9]+\\z"));
    return name.match(host).hasMatch() && !digits.match(host.section(u'.', -1)).hasMatch();
}

} // namespace

common::Result<QString> parseServiceAddress(const QString& text)
{
    const auto refuse = [&text](const QString& why) {
        return refused(QStringLiteral("--service takes HOST[:PORT]; \"%1\" %2")
                           .arg(common::printable(text), why));
    };
    static const QRegularExpression blankOrControl(QStringLiteral("[\\s\\p{Cc}\\p{Cf}]"));
    if (text.contains(blankOrControl)) {
        return refuse(QStringLiteral("holds a blank or a control character"));
    }
    if (text.contains(u"://")) {
        return refuse(QStringLiteral("has a scheme"));
    }
    QString host;
    QString rest; // ":PORT" or nothing
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        const QHostAddress address(text.mid(1, close - 1));
        if (close < 0 || address.protocol() != QAbstractSocket::IPv6Protocol) {
            return refuse(QStringLiteral("holds no IPv6 address in brackets"));
        }
        host = text.left(close + 1);
        rest = text.mid(close + 1);
    } else {
        const qsizetype colon = text.indexOf(u':');
        if (colon >= 0 && text.indexOf(u':', colon + 1) >= 0) {
            return refuse(QStringLiteral("needs brackets around an IPv6 address, as [::1]:8047"));
        }
        host = colon < 0 ? text : text.left(colon);
        rest = colon < 0 ? QString() : text.mid(colon);
        if (!isIpv4(host) && !isHostName(host)) {
            static const QRegularExpression zeroLed(QStringLiteral("\\A([0-9]+\\.){3}[0-9]+\\z"));
            return refuse(zeroLed.match(host).hasMatch()
                              ? QStringLiteral("is no IPv4 address of four parts from 0 to 255 "
                                               "without leading zeros (those would be read as "
                                               "octal)")
                              : QStringLiteral("names no host"));
        }
    }
    int port = defaultServicePort;
    if (!rest.isEmpty()) {
        static const QRegularExpression digits(QStringLiteral("\\A:[0-9]{1,5}\\z"));
        port = digits.match(rest).hasMatch() ? rest.mid(1).toInt() : 0;
        if (port < 1 || port > 65535) {
            return refuse(QStringLiteral("has no port from 1 to 65535 after \":\""));
        }
    }
    return host + u':' + QString::number(port);
}

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
        if (argument == u"--service" || argument.startsWith(u"--service=")) {
            if (argument == u"--service" && i + 1 == arguments.size()) {
                return refused(QStringLiteral("--service needs HOST[:PORT]"));
            }
            auto address = parseServiceAddress(argument == u"--service"
                                                   ? arguments[++i]
                                                   : argument.mid(argument.indexOf(u'=') + 1));
            if (!address) {
                return address.error();
            }
            options.service = *address;
            continue;
        }
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
