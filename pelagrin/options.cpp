#include "pelagrin/options.h"

#include "common/commandline.h"
#include "common/errortext.h"
#include "common/optiontable.h"

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

namespace {

using common::options::decimalOption;
using common::options::Option;
using common::options::Refusal;
using common::options::textOption;
using common::options::wholeOption;

// |option| with the words a refusal of its value uses.
Option expecting(Option option, const char* words)
{
    option.value.expects = words;
    return option;
}

std::string shown(double number)
{
    return QString::number(number).toStdString();
}

// The options, each storing what it takes in |into|; a refusal is the whole text to report.
std::vector<Option> optionTable(Options& into)
{
    return common::options::withHelpAndVersion({
        expecting(wholeOption("--connections", "N", "tiles fetched at once", 1, maxConnections,
                              std::to_string(defaultConnections),
                              [&into](long n) { into.connections = static_cast<int>(n); }),
                  "a number from 1 to 6"),
        {"--service", "HOST[:PORT]",
         "the map service to ask: a name, an IPv4 address or an IPv6\n"
         "address in brackets, PORT 1 to 65535 (default " QT_STRINGIFY(
             PELAGRIN_SERVICE_PORT) "), no scheme\n"
                                    "(default: the local service, " PELAGRIN_MAP_SERVICE ")",
         [&into](const std::string& text) -> Refusal {
             auto address = parseServiceAddress(QString::fromStdString(text));
             if (!address) {
                 return address.error().text;
             }
             into.service = *address;
             return std::nullopt;
         }},
        textOption("--route", "FILE",
                   "start with the region along the route in FILE (GPX 1.1 tracks\n"
                   "or routes, KML or KMZ lines)",
                   "",
                   [&into](const std::string& text) { into.route = QString::fromStdString(text); }),
        expecting(decimalOption("--width", "KM", "the width of the route's region in km", 0.1, 100,
                                shown(Options().routeWidthKm),
                                [&into](double km) { into.routeWidthKm = km; }),
                  "a number of km from 0.1 to 100"),
        decimalOption("--zoom", "Z", "the zoom of the route's tiles", 0.001, 3000,
                      shown(defaultRouteZoom), [&into](double zoom) { into.zoom = zoom; }),
        wholeOption("--refresh-days", "N",
                    "stored tiles older than N days are offered for refreshing", 1, maxRefreshDays,
                    std::to_string(defaultRefreshDays),
                    [&into](long days) { into.refreshDays = static_cast<int>(days); }),
    });
}

} // namespace

const QString usageText =
    common::usageLine(QStringLiteral("pelagrin"), common::options::shownTable(optionTable),
                      QStringLiteral("  (N tiles at once, 1 to 6, default 2)"));
const QString helpText = common::helpText(
    usageText,
    QStringLiteral("Previews the map of the map service around a centre and zoom, and downloads a "
                   "region\n"
                   "between two corners, or along a route, as tiles of 1999 x 1999 pixels into "
                   "the folder\n"
                   "MyMaps of the working folder.\n"),
    common::options::shownTable(optionTable), 19);

common::Result<Options> parseArguments(const QStringList& arguments)
{
    Options options;
    common::options::Wording wording;
    wording.unknown = [](const std::string& argument) {
        return refused(
                   QStringLiteral("unknown argument \"%1\"").arg(QString::fromStdString(argument)))
            .text;
    };
    wording.badValue = [](const Option& option, const std::string& text) {
        return refused(QStringLiteral("%1 takes %2, not \"%3\"")
                           .arg(QString::fromStdString(option.name),
                                QString::fromStdString(common::options::expected(option.value)),
                                common::printable(QString::fromStdString(text))))
            .text;
    };
    wording.missingValue = [](const Option& option) {
        const QString what = option.name == "--service" ? QStringLiteral("HOST[:PORT]")
                             : option.name == "--route" ? QStringLiteral("a file")
                                                        : QStringLiteral("a number");
        return refused(QString::fromStdString(option.name) + QStringLiteral(" needs ") + what).text;
    };
    if (const Refusal refusal = common::parseArguments(optionTable(options), arguments, wording)) {
        return common::makeError(common::ErrorKind::BadInput, QString::fromStdString(*refusal), 2);
    }
    return options;
}

} // namespace pelagrin
