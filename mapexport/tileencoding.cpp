#include "mapexport/tileencoding.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>

namespace mapexport {

EncodedTile encodeTile(const QImage& tile, TileFormat format)
{
    const auto* pixels = reinterpret_cast<const QRgb*>(tile.constBits());
    const auto* end = pixels + static_cast<std::ptrdiff_t>(tile.width()) * tile.height();
    const bool opaque = std::all_of(pixels, end, [](QRgb p) { return qAlpha(p) == 255; });
    bool jpeg = format == TileFormat::Jpeg;
    if (format == TileFormat::Auto && opaque) {
        // More than 256 colours: a photograph or shading, which JPEG keeps far smaller.
        std::vector<QRgb> colours;
        for (const QRgb* p = pixels; p != end && colours.size() <= 256; ++p) {
            if (std::find(colours.begin(), colours.end(), *p) == colours.end()) {
                colours.push_back(*p);
            }
        }
        jpeg = colours.size() > 256;
    }
    if (jpeg) {
        return {jpegOnWhite(tile), true};
    }
    EncodedTile encoded{{}, false};
    QBuffer buffer(&encoded.bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!(opaque ? tile.convertToFormat(QImage::Format_RGB888) : tile).save(&buffer, "PNG")) {
        encoded.bytes.clear();
    }
    return encoded;
}

QByteArray jpegOnWhite(const QImage& image)
{
    QImage white(image.size(), QImage::Format_RGB888);
    white.fill(Qt::white);
    QPainter painter(&white);
    painter.drawImage(0, 0, image);
    painter.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!white.save(&buffer, "JPEG", 85)) {
        jpeg.clear();
    }
    return jpeg;
}

} // namespace mapexport
