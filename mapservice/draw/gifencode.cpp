#include "mapservice/draw/gifencode.h"

#include <gif_lib.h>

#include <stdexcept>
#include <vector>

namespace mapservice {

namespace {

int append(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    return length;
}

} // namespace

std::string encodeGif(const IndexedImage& image, std::span<const Rgb> palette, const Halt& halt)
{
    if (palette.empty() || palette.size() > 256) {
        throw std::runtime_error("a GIF palette holds 1 to 256 colours");
    }
    // A GIF colour table has a power of two entries; the rest stay black.
    int bits = 1;
    while ((std::size_t{1} << bits) < palette.size()) {
        ++bits;
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) / 8);
    int error = 0;
    GifFileType* gif = EGifOpen(&out, append, &error);
    if (gif == nullptr) {
        throw std::runtime_error(GifErrorString(error));
    }
    std::vector<GifColorType> colours(std::size_t{1} << bits, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < palette.size(); ++i) {
        colours[i] = {palette[i].r, palette[i].g, palette[i].b};
    }
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    bool ok = map != nullptr &&
              EGifPutScreenDesc(gif, image.width, image.height, bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    constexpr int rowsBetweenHalts = 256;
    bool stopped = false;
    for (int y = 0; ok && y < image.height; ++y) {
        if (y % rowsBetweenHalts == 0 && halted(halt)) {
            stopped = true;
            break;
        }
        auto* row = const_cast<GifPixelType*>(image.pixels.data() +
                                              static_cast<std::size_t>(y) *
                                                  static_cast<std::size_t>(image.width));
        ok = EGifPutLine(gif, row, image.width) == GIF_OK;
    }
    GifFreeMapObject(map);
    const int closeResult = EGifCloseFile(gif, &error);
    if (stopped) {
        return {};
    }
    if (!ok || closeResult != GIF_OK) {
        throw std::runtime_error("GIF encoding failed");
    }
    return out;
}

} // namespace mapservice
