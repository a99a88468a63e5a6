#include "mapservice/network/bodycheck.h"

#include "common/gifcheck.h"
#include "common/readfile.h"

#include <cstdint>

namespace mapservice {

namespace {

// What a body's header says, and what is wrong with its structure.
struct Found {
    const char* format = nullptr;
    int width = 0;
    int height = 0;
    bool whole = false;
};

std::uint32_t byteAt(std::string_view b, std::size_t at)
{
    return static_cast<unsigned char>(b[at]);
}

std::uint32_t bigEndian(std::string_view b, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = value << 8 | byteAt(b, at + static_cast<std::size_t>(i));
    }
    return value;
}

std::uint32_t littleEndian(std::string_view b, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | byteAt(b, at + static_cast<std::size_t>(i));
    }
    return value;
}

// The chunks from the signature on, to IEND; IHDR first gives the size.
Found png(std::string_view b)
{
    Found f{"PNG"};
    if (b.size() >= 24) {
        f.width = static_cast<int>(bigEndian(b, 16, 4));
        f.height = static_cast<int>(bigEndian(b, 20, 4));
    }
    for (std::size_t at = 8; at + 12 <= b.size();) {
        const std::uint32_t length = bigEndian(b, at, 4);
        if (length > b.size() - at - 12) {
            break;
        }
        const std::string_view type = b.substr(at + 4, 4);
        at += 12 + length;
        if (type == "IEND") {
            f.whole = true;
            break;
        }
    }
    return f;
}

// The markers up to the scan give the size (a start-of-frame marker); the end marker must come
// last, give or take a few bytes of padding.
Found jpeg(std::string_view b)
{
    Found f{"JPEG"};
    for (std::size_t at = 2; at + 9 <= b.size() && byteAt(b, at) == 0xFF;) {
        const std::uint32_t marker = byteAt(b, at + 1);
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            f.height = static_cast<int>(bigEndian(b, at + 5, 2));
            f.width = static_cast<int>(bigEndian(b, at + 7, 2));
        }
        if (marker == 0xDA) {
            break;
        }
        at += 2 + bigEndian(b, at + 2, 2);
    }
    const std::size_t tail = b.size() > 64 ? b.size() - 64 : 0;
    f.whole = b.substr(tail).rfind("\xFF\xD9") != std::string_view::npos;
    return f;
}

Found gif(std::string_view b)
{
    common::GifWalker walker;
    walker.feed(b.data(), b.size());
    return {"GIF", walker.screenWidth(), walker.screenHeight(), walker.whole()};
}

// The RIFF length, and the size from the first chunk: VP8X, lossy VP8 or lossless VP8L.
Found webp(std::string_view b)
{
    Found f{"WEBP"};
    f.whole = b.size() >= 12 && littleEndian(b, 4, 4) <= b.size() - 8;
    const std::string_view chunk = b.size() >= 30 ? b.substr(12, 4) : std::string_view();
    if (chunk == "VP8X") {
        f.width = static_cast<int>(littleEndian(b, 24, 3)) + 1;
        f.height = static_cast<int>(littleEndian(b, 27, 3)) + 1;
    } else if (chunk == "VP8 ") {
        f.width = static_cast<int>(littleEndian(b, 26, 2) & 0x3FFF);
        f.height = static_cast<int>(littleEndian(b, 28, 2) & 0x3FFF);
    } else if (chunk == "VP8L") {
        const std::uint32_t bits = littleEndian(b, 21, 4);
        f.width = static_cast<int>(bits & 0x3FFF) + 1;
        f.height = static_cast<int>((bits >> 14) & 0x3FFF) + 1;
    }
    return f;
}

} // namespace

std::optional<std::string> bodyProblem(std::string_view body, PictureSize size)
{
    Found f;
    if (body.substr(0, 8) == "\x89PNG\r\n\x1A\n") {
        f = png(body);
    } else if (body.substr(0, 3) == "\xFF\xD8\xFF") {
        f = jpeg(body);
    } else if (body.substr(0, 6) == "GIF87a" || body.substr(0, 6) == "GIF89a") {
        f = gif(body);
    } else if (body.size() >= 12 && body.substr(0, 4) == "RIFF" && body.substr(8, 4) == "WEBP") {
        f = webp(body);
    } else {
        return "no PNG, JPEG, GIF or WEBP picture but " + std::to_string(body.size()) + " bytes";
    }
    if (!f.whole) {
        return "a " + std::string(f.format) + " cut short (" + std::to_string(body.size()) +
               " bytes)";
    }
    if (size.width > 0 && (f.width != size.width || f.height != size.height)) {
        return "a " + std::string(f.format) + " of " + std::to_string(f.width) + " x " +
               std::to_string(f.height) + " pixels, not " + std::to_string(size.width) + " x " +
               std::to_string(size.height);
    }
    return std::nullopt;
}

std::optional<std::string> fileProblem(const std::string& path, PictureSize size,
                                       std::size_t maxBytes)
{
    const auto body = common::readUpTo(path, maxBytes + 1); // a byte more tells one over it
    if (!body) {
        return std::string("unreadable once received");
    }
    if (body->size() > maxBytes) {
        return "larger than " + std::to_string(maxBytes) + " bytes";
    }
    return bodyProblem(*body, size);
}

} // namespace mapservice
