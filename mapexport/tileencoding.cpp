#include "mapexport/tileencoding.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

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

namespace {

// The colours of |tile| (premultiplied ARGB, 32 bits a pixel) in the order first seen, at most
// 256 of them; with |indices| (8 bits a pixel, as large as |tile|) also each pixel's place
// among them. Nothing when the tile holds more.
std::optional<std::vector<QRgb>> paletteOf(const QImage& tile, QImage* indices)
{
    // An open-addressed table of the colours seen: 0 marks a free slot, so fully transparent
    // black (0) has a place of its own.
    constexpr std::size_t tableSize = 1024;
    constexpr std::size_t most = 256;
    std::array<QRgb, tableSize> seen{};
    std::array<uchar, tableSize> placeOf{};
    std::vector<QRgb> colours;
    int zeroPlace = -1;
    QRgb last = 0;
    int lastPlace = -1;
    const int width = tile.width();
    const int height = tile.height();
    for (int y = 0; y < height; ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(tile.constScanLine(y));
        uchar* out = indices != nullptr ? indices->scanLine(y) : nullptr;
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels[x];
            if (p != last || lastPlace < 0) {
                if (p == 0) {
                    if (zeroPlace < 0) {
                        if (colours.size() == most) {
                            return std::nullopt;
                        }
                        zeroPlace = static_cast<int>(colours.size());
                        colours.push_back(0);
                    }
                    lastPlace = zeroPlace;
                } else {
                    std::size_t i =
                        static_cast<std::size_t>((p * 2654435761U) >> 22); // top 10 bits
                    while (seen[i] != 0 && seen[i] != p) {
                        i = (i + 1) % tableSize;
                    }
                    if (seen[i] == 0) {
                        if (colours.size() == most) {
                            return std::nullopt;
                        }
                        seen[i] = p;
                        placeOf[i] = static_cast<uchar>(colours.size());
                        colours.push_back(p);
                    }
                    lastPlace = placeOf[i];
                }
                last = p;
            }
            if (out != nullptr) {
                out[x] = static_cast<uchar>(lastPlace);
            }
        }
    }
    return colours;
}

} // namespace

bool isDrawn(const QImage& tile)
{
    return paletteOf(tile, nullptr).has_value();
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
    } else if (QImage indexed(tile.size(), QImage::Format_Indexed8);
               const auto colours = paletteOf(tile, &indexed)) {
        // A drawn map's tile: the same pixels with a palette, a quarter of the bytes to
        // compress.
        QList<QRgb> table;
        table.reserve(static_cast<qsizetype>(colours->size()));
        for (const QRgb colour : *colours) {
            table.append(qUnpremultiply(colour));
        }
        indexed.setColorTable(table);
        saved = indexed.save(&buffer, "PNG");
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
