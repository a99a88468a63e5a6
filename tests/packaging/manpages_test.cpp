// Each program's manual page against its --help: the same options, so that the page the build
// makes with help2man follows the parser the help is made with; and the exporter's help names
// every file it writes.
#include "buildpaths.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QString>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

// The long options a text names; a manual page's escaped dashes ("\\-") read as dashes, and
// another program's option it refers to ("mapservice --bind") is not its own.
QSet<QString> optionsIn(QString text)
{
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression reference(QStringLiteral("\"mapservice --[a-z-]+\""));
    text.remove(reference);
    QSet<QString> found;
    static const QRegularExpression option(QStringLiteral("--([a-z][a-z-]*[a-z])"));
    for (auto it = option.globalMatch(text); it.hasNext();) {
        found.insert(it.next().captured(1));
    }
    return found;
}

QString helpOf(const QString& program)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(program, {QStringLiteral("--help")});
    EXPECT_TRUE(process.waitForFinished(30'000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The pages are made by the build, by help2man from each program's --help.
std::string pageOf(const std::string& program)
{
    return testsupport::buildFile("packaging/man/" + program + ".1");
}

QString fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << path;
    return QString::fromStdString(text.str());
}

TEST(ManualPages, NameTheOptionsThatHelpNames)
{
    for (const std::string program : {"pelagrin", "pinmark", "tramsel", "brontile", "mapservice",
                                      "mapexport", "mapexport-window"}) {
        SCOPED_TRACE(program);
        const QSet<QString> help =
            optionsIn(helpOf(QString::fromStdString(testsupport::program(program))));
        const QSet<QString> page = optionsIn(fileText(pageOf(program)));
        EXPECT_TRUE(help.contains(QStringLiteral("help")));
        for (const QString& option : help) {
            EXPECT_TRUE(page.contains(option)) << "the page lacks --" << option.toStdString();
        }
        for (const QString& option : page) {
            EXPECT_TRUE(help.contains(option)) << "--help lacks --" << option.toStdString();
        }
    }
}

TEST(ManualPages, PelagrinNamesTheServiceAddressItWasBuiltWith)
{
    const QString address = QStringLiteral(PELAGRIN_MAP_SERVICE);
    const QString port = address.section(u':', -1);
    const QString help = helpOf(QString::fromStdString(testsupport::program("pelagrin")));
    EXPECT_TRUE(help.contains(QStringLiteral("the local service, ") + address))
        << help.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("(default ") + port + u')')) << help.toStdString();
    const QString page = fileText(pageOf("pelagrin"));
    EXPECT_TRUE(page.contains(QStringLiteral("map service at ") + address));
    EXPECT_TRUE(page.contains(QStringLiteral("default ") + port + u')'));
}

TEST(ManualPages, ExporterHelpNamesEveryEndingItWrites)
{
    const QString help = helpOf(QString::fromStdString(testsupport::program("mapexport")));
    for (const char* ending :
         {".mbtiles", ".sqlitedb", ".gpkg", ".kmz", ".tif", ".tiff", ".pmtiles"}) {
        EXPECT_TRUE(help.contains(QString::fromLatin1(ending))) << ending;
    }
}

} // namespace
