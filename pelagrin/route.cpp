#include "pelagrin/route.h"

#include "common/errortext.h"
#include "common/readfile.h"
#include "pelagrin/messages.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cmath>
#include <memory>
#include <unzip.h>

namespace pelagrin {

qint64 Route::points() const
{
    qint64 count = 0;
    for (const auto& line : lines) {
        count += static_cast<qint64>(line.size());
    }
    return count;
}

namespace {

common::Error refusal(const QString& name, const QString& why)
{
    return common::makeError(common::ErrorKind::BadInput, routeUnreadableMessage(name, why));
}

bool usable(double lat, double lon)
{
    return std::isfinite(lat) && std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 180;
}

// Reads the points of the XML document, refusing what the file may not hold.
class RouteReader {
public:
    RouteReader(const QByteArray& xml, QString name) : xml_(xml), name_(std::move(name)) {}

    common::Result<Route> read()
    {
        while (!xml_.atEnd()) {
            switch (xml_.readNext()) {
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::EntityReference:
                return refusal(name_, routeDtdText);
            case QXmlStreamReader::StartElement:
                if (auto refused = start()) {
                    return *refused;
                }
                break;
            case QXmlStreamReader::EndElement:
                end();
                break;
            case QXmlStreamReader::Characters:
                if (inCoordinates_) {
                    coordinates_ += xml_.text();
                }
                break;
            default:
                break;
            }
        }
        if (!known_ && depth_ > 0) {
            return refusal(name_, routeNotGpxOrKmlText);
        }
        if (xml_.hasError()) {
            return refusal(name_, routeXmlErrorText(xml_.errorString(), xml_.lineNumber()));
        }
        if (!known_) {
            return refusal(name_, routeNotGpxOrKmlText);
        }
        std::erase_if(route_.lines, [](const auto& line) { return line.empty(); });
        if (route_.lines.empty()) {
            return refusal(name_, routeNoLineText);
        }
        return std::move(route_);
    }

private:
    std::optional<common::Error> start()
    {
        const QStringView element = xml_.name();
        if (depth_++ == 0) {
            known_ = element == u"gpx" || element == u"kml";
            if (!known_) {
                xml_.raiseError(QStringLiteral("not GPX or KML"));
            }
            return std::nullopt;
        }
        if (element == u"trkseg" || element == u"rte" || element == u"LineString") {
            route_.lines.emplace_back();
            line_ = &route_.lines.back();
        } else if ((element == u"trkpt" || element == u"rtept") && line_ != nullptr) {
            const auto attributes = xml_.attributes();
            bool latOk = false;
            bool lonOk = false;
            const double lat = attributes.value(QLatin1String("lat")).toDouble(&latOk);
            const double lon = attributes.value(QLatin1String("lon")).toDouble(&lonOk);
            return add(latOk && lonOk, lat, lon);
        } else if (element == u"coordinates" && line_ != nullptr) {
            inCoordinates_ = true;
            coordinates_.clear();
        }
        return std::nullopt;
    }

    void end()
    {
        --depth_;
        const QStringView element = xml_.name();
        if (element == u"trkseg" || element == u"rte" || element == u"LineString") {
            line_ = nullptr;
        } else if (element == u"coordinates" && inCoordinates_) {
            inCoordinates_ = false;
            takeCoordinates();
        }
    }

    // KML's "lon,lat[,alt]" tuples, apart by blanks.
    void takeCoordinates()
    {
        for (const QStringView tuple : QStringView(coordinates_).split(u' ', Qt::SkipEmptyParts)) {
            const auto parts = tuple.split(u',');
            bool lonOk = false;
            bool latOk = false;
            const double lon = parts.value(0).toDouble(&lonOk);
            const double lat = parts.size() >= 2 ? parts[1].toDouble(&latOk) : 0;
            if (add(lonOk && latOk, lat, lon)) {
                xml_.raiseError(QStringLiteral("too many points"));
                tooMany_ = true;
                return;
            }
        }
    }

    std::optional<common::Error> add(bool numbers, double lat, double lon)
    {
        if (++points_ > maxRoutePoints) {
            return refusal(name_, routeTooManyPointsText(maxRoutePoints));
        }
        if (numbers && usable(lat, lon)) {
            line_->push_back({lat, lon});
        } else {
            ++route_.skipped;
        }
        return std::nullopt;
    }

public:
    bool tooMany_ = false;

private:
    QXmlStreamReader xml_;
    QString name_;
    Route route_;
    std::vector<common::Centre>* line_ = nullptr;
    bool inCoordinates_ = false;
    QString coordinates_;
    qint64 points_ = 0;
    int depth_ = 0;
    bool known_ = false;
};

// The first KML file in the zip archive at |path|, unpacked up to the size limit.
common::Result<QByteArray> kmlInKmz(const QString& path, const QString& name)
{
    const std::unique_ptr<void, int (*)(unzFile)> zip(
        unzOpen64(QFile::encodeName(path).constData()), unzClose);
    if (!zip) {
        return refusal(name, routeBadZipText);
    }
    for (int found = unzGoToFirstFile(zip.get()); found == UNZ_OK;
         found = unzGoToNextFile(zip.get())) {
        char entry[512];
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip.get(), &info, entry, sizeof entry, nullptr, 0, nullptr,
                                    0) != UNZ_OK) {
            break;
        }
        if (!QByteArray(entry).toLower().endsWith(".kml")) {
            continue;
        }
        if (info.uncompressed_size > static_cast<ZPOS64_T>(maxRouteFileBytes)) {
            return refusal(name, routeTooLargeText(maxRouteFileBytes));
        }
        if (unzOpenCurrentFile(zip.get()) != UNZ_OK) {
            return refusal(name, routeBadZipText);
        }
        // The size the archive announces may lie: what is read stops at the limit all the same.
        QByteArray kml;
        char buffer[65536];
        int got = 0;
        while ((got = unzReadCurrentFile(zip.get(), buffer, sizeof buffer)) > 0) {
            if (kml.size() + got > maxRouteFileBytes) {
                unzCloseCurrentFile(zip.get());
                return refusal(name, routeTooLargeText(maxRouteFileBytes));
            }
            kml.append(buffer, got);
        }
        if (unzCloseCurrentFile(zip.get()) != UNZ_OK || got < 0) {
            return refusal(name, routeBadZipText);
        }
        return kml;
    }
    return refusal(name, routeNoKmlText);
}

bool declaresDocumentType(const QByteArray& xml)
{
    return xml.contains("<!DOCTYPE") || xml.contains("<!doctype") || xml.contains("<!ENTITY");
}

} // namespace

common::Result<Route> routeFromXml(const QByteArray& xml, const QString& name)
{
    // Refused before the reader sees it; the reader refuses whatever this misses (a UTF-16 file).
    if (declaresDocumentType(xml)) {
        return refusal(name, routeDtdText);
    }
    RouteReader reader(xml, name);
    auto route = reader.read();
    if (!route && reader.tooMany_) {
        return refusal(name, routeTooManyPointsText(maxRoutePoints));
    }
    return route;
}

common::Result<Route> readRoute(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    auto bytes = common::readUpTo(QFile::encodeName(path).toStdString(),
                                  static_cast<std::size_t>(maxRouteFileBytes) + 1);
    if (!bytes) {
        return refusal(name, routeNoFileText);
    }
    if (static_cast<qint64>(bytes->size()) > maxRouteFileBytes) {
        return refusal(name, routeTooLargeText(maxRouteFileBytes));
    }
    if (bytes->starts_with("PK\x03\x04")) {
        bytes->clear();
        auto kml = kmlInKmz(path, name);
        if (!kml) {
            return kml.error();
        }
        return routeFromXml(*kml, name);
    }
    return routeFromXml(QByteArray::fromStdString(*bytes), name);
}

} // namespace pelagrin
