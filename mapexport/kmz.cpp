#include "mapexport/kmz.h"

#include "common/gdal.h"
#include "mapexport/tilepyramid.h"

#include <QDateTime>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <memory>
#include <zip.h>

namespace mapexport {

namespace {

QByteArray xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray degrees(double value)
{
    return QByteArray::number(value, 'f', 9);
}

// The layout at |factor|: the cells with a tile in them, and how many there are.
std::vector<KmzImage> cellsAt(const Mosaic& mosaic, int factor)
{
    const common::GeoTransform& t = mosaic.transform;
    const double d = t[1];
    const double west = westWithin180(mosaic);
    // The columns west and east of 180 degrees; a pixel across it goes to the west part.
    const int split =
        std::clamp(static_cast<int>(std::ceil((180 - west) / d - 1e-9)), 0, mosaic.width);
    const int step = kmzImageSide * factor;
    const int rows = (mosaic.height + step - 1) / step;
    std::vector<KmzImage> images;
    for (const auto& [from, to] : {std::pair{0, split}, std::pair{split, mosaic.width}}) {
        // The cells each piece reaches into, marked piece by piece.
        const int columns = (to - from + step - 1) / step;
        std::vector<char> used(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
        const auto cell = [&used, columns](int cx, int cy) -> char& {
            return used[static_cast<std::size_t>(cy) * static_cast<std::size_t>(columns) +
                        static_cast<std::size_t>(cx)];
        };
        const QRect part(from, 0, to - from, mosaic.height);
        for (const Piece& piece : mosaic.pieces) {
            const QRect r = piece.destination.intersected(part);
            for (int cy = r.top() / step; !r.isEmpty() && cy <= r.bottom() / step; ++cy) {
                for (int cx = (r.left() - from) / step; cx <= (r.right() - from) / step; ++cx) {
                    cell(cx, cy) = 1;
                }
            }
        }
        const double shift = from == 0 ? 0 : 360;
        for (int cy = 0; cy < rows; ++cy) {
            for (int cx = 0; cx < columns; ++cx) {
                if (cell(cx, cy) == 0) {
                    continue;
                }
                const int x = from + cx * step;
                const int y = cy * step;
                KmzImage image;
                image.window =
                    QRect(x, y, std::min(step, to - x), std::min(step, mosaic.height - y));
                const QRect& window = image.window;
                image.width = (window.width() + factor - 1) / factor;
                image.height = (window.height() + factor - 1) / factor;
                // The pixel across 180 degrees ends the west part there; the east part begins
                // at -180, so that the two meet without a gap.
                const bool first = from != 0 && window.left() == from;
                image.box = {.west = first ? -180.0
                                           : std::max(-180.0, west + window.left() * d - shift),
                             .south = t[3] + (window.bottom() + 1) * t[5],
                             .east = std::min(180.0, west + (window.right() + 1) * d - shift),
                             .north = t[3] + window.top() * t[5]};
                images.push_back(image);
            }
        }
    }
    return images;
}

// |image| of the mosaic as a JPEG, on white where no tile is.
QByteArray renderImage(GDALDatasetH source, const KmzImage& image, std::string& failure)
{
    QImage pixels(image.width, image.height, QImage::Format_RGBA8888);
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = GRIORA_Average;
    const QRect& w = image.window;
    const common::gdal::ErrorCapture errors;
    if (GDALDatasetRasterIOEx(source, GF_Read, w.x(), w.y(), w.width(), w.height(), pixels.bits(),
                              image.width, image.height, GDT_Byte, 4, nullptr, 4,
                              pixels.bytesPerLine(), 1, &extra) != CE_None) {
        failure = errors.failed() ? errors.last().message : "unknown error";
        return {};
    }
    QByteArray jpeg = jpegOnWhite(pixels);
    if (jpeg.isEmpty()) {
        failure = "an image cannot be encoded";
    }
    return jpeg;
}

struct ZipCloser {
    void operator()(zipFile zip) const { zipClose(zip, nullptr); }
};

// An entry's date and time as a zip keeps them: local time, to the second.
zip_fileinfo entryInfo(const QDateTime& when)
{
    zip_fileinfo info{};
    const QDate date = when.date();
    const QTime time = when.time();
    info.tmz_date = {static_cast<uInt>(time.second()),    static_cast<uInt>(time.minute()),
                     static_cast<uInt>(time.hour()),      static_cast<uInt>(date.day()),
                     static_cast<uInt>(date.month() - 1), static_cast<uInt>(date.year())};
    return info;
}

// Adds the entry |name| holding |bytes|, compressed or stored as it is.
bool addEntry(zipFile zip, const char* name, const zip_fileinfo& info, const QByteArray& bytes,
              bool compressed)
{
    return zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr,
                                 compressed ? Z_DEFLATED : 0,
                                 compressed ? Z_DEFAULT_COMPRESSION : 0, 0) == ZIP_OK &&
           zipWriteInFileInZip(zip, bytes.constData(), static_cast<unsigned>(bytes.size())) ==
               ZIP_OK &&
           zipCloseFileInZip(zip) == ZIP_OK;
}

} // namespace

common::Result<KmzLayout> kmzLayout(const Mosaic& mosaic, int maxImages)
{
    KmzLayout layout;
    layout.images = cellsAt(mosaic, 1);
    layout.ownCount = static_cast<qsizetype>(layout.images.size());
    const auto fits = [&] { return static_cast<int>(layout.images.size()) <= maxImages; };
    while (!fits() && layout.factor < kmzCoarsestFactor) {
        layout.factor *= 2;
        layout.images = cellsAt(mosaic, layout.factor);
    }
    if (!fits()) {
        const double west = westWithin180(mosaic);
        const bool crosses = west + mosaic.transform[1] * mosaic.width > 180;
        return common::badInput("--max-images " + std::to_string(maxImages) +
                                    " cannot be met: the region needs at "
                                    "least " +
                                    std::to_string(layout.images.size()) + " images" +
                                    (crosses ? ", one on each side of 180 degrees" : "") +
                                    ", at 1/" + std::to_string(kmzCoarsestFactor) +
                                    " of its resolution, the coarsest a KMZ "
                                    "is written at",
                                2);
    }
    return layout;
}

common::Status writeKmz(const Mosaic& mosaic, const KmzLayout& layout, GDALDatasetH source,
                        const QString& path, const QString& name, GDALProgressFunc progress,
                        void* progressData)
{
    QByteArray kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>" +
                     xmlEscaped(name) + "</name>\n";
    if (!mosaic.credit.isEmpty()) {
        kml += "<description>" + xmlEscaped(mosaic.credit) + "</description>\n";
    }
    for (std::size_t i = 0; i < layout.images.size(); ++i) {
        const KmzImage& image = layout.images[i];
        kml += "<GroundOverlay>\n<name>" + xmlEscaped(name) + " " + QByteArray::number(i + 1) +
               "</name>\n<drawOrder>50</drawOrder>\n<Icon><href>files/" +
               QByteArray::number(i + 1) + ".jpg</href></Icon>\n<LatLonBox><north>" +
               degrees(image.box.north) + "</north><south>" + degrees(image.box.south) +
               "</south><east>" + degrees(image.box.east) + "</east><west>" +
               degrees(image.box.west) + "</west></LatLonBox>\n</GroundOverlay>\n";
    }
    kml += "</Document>\n</kml>\n";

    std::unique_ptr<void, ZipCloser> zip(
        zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE));
    if (!zip) {
        return common::permanent("the file cannot be created", 1);
    }
    // Every entry carries the export's date and time. The document comes first, as readers
    // expect; the JPEGs are stored as they are (they compress no further).
    const zip_fileinfo info = entryInfo(QDateTime::currentDateTime());
    if (!addEntry(zip.get(), "doc.kml", info, kml, true)) {
        return common::permanent("the document cannot be written", 1);
    }
    for (std::size_t i = 0; i < layout.images.size(); ++i) {
        std::string failure;
        const QByteArray jpeg = renderImage(source, layout.images[i], failure);
        if (jpeg.isEmpty()) {
            return common::permanent("an image cannot be made: " + failure, 1);
        }
        const std::string entry = "files/" + std::to_string(i + 1) + ".jpg";
        if (!addEntry(zip.get(), entry.c_str(), info, jpeg, false)) {
            return common::permanent("an image cannot be written", 1);
        }
        if (progress != nullptr &&
            progress(static_cast<double>(i + 1) / static_cast<double>(layout.images.size()), "",
                     progressData) == FALSE) {
            return common::permanent("stopped", 1);
        }
    }
    zipFile closing = zip.release();
    if (zipClose(closing, nullptr) != ZIP_OK) {
        return common::permanent("the file cannot be finished", 1);
    }
    return {};
}

common::Status writeKmzExport(const ExportJob& job)
{
    const auto layout = kmzLayout(job.mosaic, job.settings.maxImages);
    if (!layout) {
        return layout.error();
    }
    if (job.settings.kmzPlanned) {
        job.settings.kmzPlanned(*layout);
    }
    return writeKmz(job.mosaic, *layout, job.source, job.path, job.name, job.progress,
                    job.progressData);
}

} // namespace mapexport
