#include "mapexport/regionpage.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "mapexport/pagefiles.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <map>

namespace mapexport {

namespace {

QByteArray builtIn(std::string_view name)
{
    const std::string_view text = pageFile(name).value_or(std::string_view());
    return {text.data(), static_cast<qsizetype>(text.size())};
}

// |text| put between <script> or <style> tags: no end tag inside it ends them early.
QByteArray within(QByteArray text, const char* tag)
{
    return text.replace(QByteArray("</") + tag, QByteArray("<\\/") + tag);
}

// |text| as a JavaScript string literal that no "</script>" in it can end.
QByteArray scriptString(const QString& text)
{
    QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2).replace("<", "\\u003c");
}

} // namespace

const QString leafletFolder = QStringLiteral(MAPEXPORT_LEAFLET_DIR);

std::optional<QString> pageProblem(const QString& leaflet)
{
    for (const char* name : {"leaflet.css", "leaflet.min.js"}) {
        const QString path = leaflet + u'/' + QLatin1String(name);
        if (!QFile::exists(path)) {
            return QStringLiteral("the page needs %1 (Debian's libjs-leaflet), which is missing; "
                                  "install it or leave the page out with --no-page")
                .arg(common::printable(path));
        }
    }
    return std::nullopt;
}

std::optional<QString> pageProblem(const ExportSettings& settings)
{
    return settings.page ? pageProblem() : std::nullopt;
}

common::Result<QByteArray> regionPage(const QString& archiveFileName, const QString& title,
                                      const QString& leaflet)
{
    if (const auto problem = pageProblem(leaflet)) {
        return common::makeError(common::ErrorKind::Permanent, *problem, 1);
    }
    QFile css(leaflet + QStringLiteral("/leaflet.css"));
    QFile script(leaflet + QStringLiteral("/leaflet.min.js"));
    if (!css.open(QIODevice::ReadOnly) || !script.open(QIODevice::ReadOnly)) {
        return common::makeError(common::ErrorKind::Permanent,
                                 QStringLiteral("Leaflet cannot be read from %1").arg(leaflet), 1);
    }
    // The style's pictures (markers, the layers button) are files the page does not use and
    // would load from beside it.
    QString style = QString::fromUtf8(css.readAll());
    style.replace(QRegularExpression(QStringLiteral(R"(url\(images/[^)]*\))")),
                  QStringLiteral("none"));

    // Each @NAME@ of the template is filled once, so nothing in what fills it is taken for one.
    const std::map<QByteArray, QByteArray> parts = {
        {"TITLE", title.toHtmlEscaped().toUtf8()},
        {"ARCHIVE", scriptString(archiveFileName)},
        {"LEAFLET_CSS", within(style.toUtf8(), "style")},
        {"LEAFLET_JS", within(script.readAll(), "script")},
        {"PMTILES_JS", within(builtIn("pmtiles.js"), "script")},
        {"VIEW_JS", within(builtIn("view.js"), "script")},
    };
    const QByteArray layout = builtIn("region.html");
    QByteArray page;
    qsizetype from = 0;
    static const QRegularExpression placeholder(QStringLiteral("@([A-Z_]+)@"));
    for (const QRegularExpressionMatch& m : placeholder.globalMatch(QString::fromUtf8(layout))) {
        const auto part = parts.find(m.captured(1).toUtf8());
        if (part == parts.end()) {
            continue;
        }
        // The template is ASCII, so character and byte positions agree.
        page += layout.mid(from, m.capturedStart() - from) + part->second;
        from = m.capturedEnd();
    }
    page += layout.mid(from);
    return page;
}

QString pagePath(const QString& output)
{
    return output.left(output.size() - QFileInfo(output).suffix().size()) + QStringLiteral("html");
}

common::Status writeRegionPage(const QString& output, const ExportSettings& settings)
{
    if (!settings.page) {
        return {};
    }
    const QFileInfo archive(output);
    const auto page = regionPage(archive.fileName(), archive.completeBaseName());
    if (!page) {
        return page.error();
    }
    return common::writeFileAtomically(pagePath(output), *page);
}

} // namespace mapexport
