#include "gifmaker.h"

#include "mapservice/draw/gifencode.h"

#include <map>
#include <stdexcept>
#include <vector>

namespace testsupport {

// Written by the map service's own encoder, the one that makes every tile.
QByteArray makeGif(int width, int height, unsigned seed)
{
    mapservice::IndexedImage image(width, height, 0);
    unsigned state = seed * 2654435761u + 1;
    for (auto& pixel : image.pixels) {
        state = state * 1103515245u + 12345u;
        pixel = static_cast<std::uint8_t>((state >> 16) & 15);
    }
    std::vector<mapservice::Rgb> palette;
    for (int i = 0; i < 16; ++i) {
        palette.push_back({static_cast<std::uint8_t>(i * 16),
                           static_cast<std::uint8_t>(255 - i * 16),
                           static_cast<std::uint8_t>(i * 8)});
    }
    const std::string gif = mapservice::encodeGif(image, palette);
    return {gif.data(), static_cast<qsizetype>(gif.size())};
}

QByteArray makeFlatGif(int width, int height)
{
    // Tests ask for the same few sizes again and again.
    static std::map<std::pair<int, int>, QByteArray> made;
    if (const auto it = made.find({width, height}); it != made.end()) {
        return it->second;
    }
    const mapservice::IndexedImage image(width, height, 0);
    const std::vector<mapservice::Rgb> palette{{200, 220, 240}, {0, 0, 0}};
    const std::string gif = mapservice::encodeGif(image, palette);
    return made[{width, height}] = QByteArray(gif.data(), static_cast<qsizetype>(gif.size()));
}

QByteArray padGif(QByteArray gif, int length)
{
    if (gif.size() > length) {
        throw std::runtime_error("GIF longer than the requested length");
    }
    gif.append(QByteArray(length - gif.size(), '\0'));
    return gif;
}

} // namespace testsupport
