#include "gifmaker.h"

#include <gif_lib.h>

#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

} // namespace

QByteArray makeGif(int width, int height, unsigned seed)
{
    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, appendBytes, &error);
    if (gif == nullptr) {
        throw std::runtime_error("EGifOpen failed");
    }
    GifColorType colours[16];
    for (int i = 0; i < 16; ++i) {
        colours[i] = {static_cast<GifByteType>(i * 16), static_cast<GifByteType>(255 - i * 16),
                      static_cast<GifByteType>(i * 8)};
    }
    ColorMapObject* map = GifMakeMapObject(16, colours);
    bool ok = EGifPutScreenDesc(gif, width, height, 4, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; ok && y < height; ++y) {
        for (auto& pixel : line) {
            state = state * 1103515245u + 12345u;
            pixel = static_cast<GifPixelType>((state >> 16) & 15);
        }
        ok = EGifPutLine(gif, line.data(), width) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok) {
        throw std::runtime_error("GIF encoding failed");
    }
    return out;
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
