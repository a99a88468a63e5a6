#include "common/worldfile.h"

#include "common/credit.h"

#include <QList>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace common {

namespace {

const char* const wgs84 =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
    "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
    "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\","
    "\"9122\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";

} // namespace

QByteArray exactNumber(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

QString worldFilePath(const QString& picturePath)
{
    const qsizetype dot = picturePath.lastIndexOf(u'.');
    const qsizetype slash = picturePath.lastIndexOf(u'/');
    return (dot > slash ? picturePath.left(dot) : picturePath) + QStringLiteral(".gfw");
}

QString auxFilePath(const QString& picturePath)
{
    return picturePath + QStringLiteral(".aux.xml");
}

QByteArray worldFileText(const GeoTransform& t)
{
    // The world file names the centre of the top left pixel, not its corner.
    // Its order: pixel width, row rotation, column rotation, pixel height, then that centre.
    return exactNumber(t[1]) + '\n' + exactNumber(t[4]) + '\n' + exactNumber(t[2]) + '\n' +
           exactNumber(t[5]) + '\n' + exactNumber(t[0] + t[1] / 2 + t[2] / 2) + '\n' +
           exactNumber(t[3] + t[4] / 2 + t[5] / 2) + '\n';
}

bool isSourceName(const QString& name)
{
    return !name.isEmpty() && name.size() <= 64 &&
           std::all_of(name.begin(), name.end(),
                       [](QChar c) { return c.unicode() < 128 && c.isLetterOrNumber(); });
}

namespace {

bool isEntityTag(const QString& tag)
{
    return !tag.isEmpty() && tag.size() <= 256 && std::all_of(tag.begin(), tag.end(), [](QChar c) {
        return c.unicode() > 32 && c.unicode() < 127;
    });
}

} // namespace

QByteArray auxFileText(const GeoTransform& t, const QString& credit, const QString& source,
                       const QString& etag)
{
    QByteArray transform;
    for (const double value : t) {
        transform += (transform.isEmpty() ? "" : ", ") + exactNumber(value);
    }
    QByteArray srs(wgs84);
    srs.replace("\"", "&quot;");
    QByteArray metadata;
    const std::string clean = cleanCredit(credit.toStdString());
    if (!clean.empty()) {
        metadata = "    <MDI key=\"attribution\">" +
                   QString::fromStdString(clean).toHtmlEscaped().toUtf8() + "</MDI>\n";
    }
    if (isSourceName(source)) {
        metadata += "    <MDI key=\"source\">" + source.toLatin1() + "</MDI>\n";
    }
    if (isEntityTag(etag)) {
        metadata += "    <MDI key=\"etag\">" + etag.toHtmlEscaped().toLatin1() + "</MDI>\n";
    }
    if (!metadata.isEmpty()) {
        metadata = "  <Metadata>\n" + metadata + "  </Metadata>\n";
    }
    return "<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"2,1\">" + srs +
           "</SRS>\n  <GeoTransform>" + transform + "</GeoTransform>\n" + metadata +
           "</PAMDataset>\n";
}

std::optional<GeoTransform> readWorldFile(const QByteArray& text)
{
    const QList<QByteArray> lines = text.simplified().split(' ');
    if (lines.size() != 6) {
        return std::nullopt;
    }
    double v[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        v[i] = lines[i].toDouble(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    return GeoTransform{v[4] - v[0] / 2 - v[2] / 2, v[0], v[2],
                        v[5] - v[1] / 2 - v[3] / 2, v[1], v[3]};
}

namespace {

// The text of the metadata item |key|, or nothing.
std::optional<QString> auxItem(const QByteArray& text, QLatin1String key)
{
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"MDI" &&
            xml.attributes().value(QLatin1String("key")) == key) {
            return xml.readElementText();
        }
    }
    return std::nullopt;
}

} // namespace

QString readAuxCredit(const QByteArray& text)
{
    const auto credit = auxItem(text, QLatin1String("attribution"));
    return credit ? QString::fromStdString(cleanCredit(credit->toStdString())) : QString();
}

QString readAuxSource(const QByteArray& text)
{
    const QString source = auxItem(text, QLatin1String("source")).value_or(QString());
    return isSourceName(source) ? source : QString();
}

QString readAuxEtag(const QByteArray& text)
{
    const QString tag = auxItem(text, QLatin1String("etag")).value_or(QString());
    return isEntityTag(tag) ? tag : QString();
}

} // namespace common
