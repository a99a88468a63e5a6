#include "mapexport/tileencoding.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>
#include <array>

namespace mapexport {

const char* tileFormatName(TileFormat format)
{
    switch (format) {
    case TileFormat::Jpeg:
        return "jpg";
    case TileFormat::Webp:
        return "webp";
    case TileFormat::Auto:
    case TileFormat::Png:
        break;
    }
    return "png";
}

bool isDrawn(const QImage& tile)
{
    // The colours seen, in a small open-addressed table; 0 marks a free slot, so fully
    // transparent black (0) is counted apart.
    constexpr std::size_t tableSize = 1024;
    constexpr int most = 256;
    std::array<QRgb, tableSize> seen{};
    bool zero = false;
    int colours = 0;
    const auto* pixels = reinterpret_cast<const QRgb*>(tile.constBits());
    const auto* end = pixels + static_cast<std::ptrdiff_t>(tile.width()) * tile.height();
    for (const QRgb* p = pixels; p != end; ++p) {
        if (*p == 0) {
            colours += zero ? 0 : 1;
            zero = true;
        } else {
            std::size_t i = static_cast<std::size_t>((*p * 2654435761U) >> 22); // the top 10 bits
            while (seen[i] != 0 && seen[i] != *p) {
                i = (i + 1) % tableSize;
            }
            if (seen[i] == 0) {
                seen[i] = *p;
                ++colours;
            }
        }
        if (colours > most) {
            return false;
        }
    }
    return true;
}

TileFormat chooseTileFormat(int drawn, int sampled)
{
    return drawn * 10 >= sampled * 9 ? TileFormat::Png : TileFormat::Jpeg;
}

QByteArray encodeTile(const QImage& tile, TileFormat format)
{
    if (format == TileFormat::Jpeg) {
        return jpegOnWhite(tile);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool saved = false;
    if (format == TileFormat::Webp) {
        saved = tile.save(&buffer, "WEBP", 85);
    } else {
        const auto* pixels = reinterpret_cast<const QRgb*>(tile.constBits());
        const auto* end = pixels + static_cast<std::ptrdiff_t>(tile.width()) * tile.height();
        const bool opaque = std::all_of(pixels, end, [](QRgb p) { return qAlpha(p) == 255; });
        saved = (opaque ? tile.convertToFormat(QImage::Format_RGB888) : tile).save(&buffer, "PNG");
    }
    if (!saved) {
        bytes.clear();
    }
    return bytes;
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
