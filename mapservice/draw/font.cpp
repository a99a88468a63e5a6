#include "mapservice/draw/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <map>
#include <utility>
#include <vector>

namespace mapservice {

namespace {

struct Glyph {
    int left = 0;    // from the pen position to the bitmap's left edge
    int top = 0;     // from the baseline up to the bitmap's top edge
    int advance = 0; // pixels to the next pen position
    int width = 0;
    int rows = 0;
    std::vector<bool> ink; // row by row
};

// One thread's face of the font, with the glyphs it has rendered.
class Face {
public:
    Face()
    {
        if (FT_Init_FreeType(&library_) != 0) {
            error_ = "FreeType cannot start";
            return;
        }
        if (FT_New_Face(library_, MAPSERVICE_FONT, 0, &face_) != 0) {
            error_ = "the font " MAPSERVICE_FONT " cannot be read";
            face_ = nullptr;
        }
    }
    ~Face()
    {
        if (face_ != nullptr) {
            FT_Done_Face(face_);
        }
        if (library_ != nullptr) {
            FT_Done_FreeType(library_);
        }
    }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    const std::optional<std::string>& error() const { return error_; }

    // The glyph of |c| at |size| pixels to the em; an empty one when there is no font.
    const Glyph& glyph(char32_t c, int size)
    {
        const auto key = std::pair{c, size};
        if (const auto it = glyphs_.find(key); it != glyphs_.end()) {
            return it->second;
        }
        Glyph& g = glyphs_[key];
        if (face_ == nullptr || !select(size) ||
            FT_Load_Char(face_, c, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
            return g;
        }
        const FT_GlyphSlot slot = face_->glyph;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.advance = static_cast<int>(slot->advance.x >> 6);
        g.width = static_cast<int>(slot->bitmap.width);
        g.rows = static_cast<int>(slot->bitmap.rows);
        g.ink.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.rows));
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row =
                slot->bitmap.buffer + static_cast<std::ptrdiff_t>(y) * slot->bitmap.pitch;
            for (int x = 0; x < g.width; ++x) {
                g.ink[static_cast<std::size_t>(y) * static_cast<std::size_t>(g.width) +
                      static_cast<std::size_t>(x)] = row[x] >= 128;
            }
        }
        return g;
    }

    // Ascender and descender (positive) in pixels at |size|.
    std::pair<int, int> extent(int size)
    {
        if (face_ == nullptr || !select(size)) {
            return {size, size / 4};
        }
        return {static_cast<int>(face_->size->metrics.ascender >> 6),
                static_cast<int>(-(face_->size->metrics.descender >> 6))};
    }

private:
    bool select(int size)
    {
        if (size != size_) {
            if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(size)) != 0) {
                return false;
            }
            size_ = size;
        }
        return true;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    int size_ = 0;
    std::optional<std::string> error_;
    std::map<std::pair<char32_t, int>, Glyph> glyphs_;
};

Face& face()
{
    thread_local Face instance;
    return instance;
}

// The code points of UTF-8 |text|; a byte that starts no valid sequence stands for itself.
std::u32string decode(std::string_view text)
{
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const int length = byte < 0x80         ? 1
                           : (byte >> 5) == 6  ? 2
                           : (byte >> 4) == 14 ? 3
                           : (byte >> 3) == 30 ? 4
                                               : 1;
        char32_t c = length == 1 ? byte : byte & (0x3f >> (length - 1));
        bool valid = i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next >> 6) == 2;
            c = (c << 6) | (next & 0x3f);
        }
        out.push_back(valid ? c : byte);
        i += valid ? static_cast<std::size_t>(length) : 1;
    }
    return out;
}

} // namespace

int textWidth(std::string_view text, int size)
{
    int width = 0;
    for (const char32_t c : decode(text)) {
        width += face().glyph(c, size).advance;
    }
    return width;
}

int lineHeight(int size)
{
    const auto [ascender, descender] = face().extent(size);
    return ascender + descender;
}

void drawText(IndexedImage& image, int x, int top, std::string_view text, int size,
              std::uint8_t index)
{
    const int baseline = top + face().extent(size).first;
    int pen = x;
    for (const char32_t c : decode(text)) {
        const Glyph& g = face().glyph(c, size);
        for (int row = 0; row < g.rows; ++row) {
            for (int col = 0; col < g.width; ++col) {
                if (g.ink[static_cast<std::size_t>(row) * static_cast<std::size_t>(g.width) +
                          static_cast<std::size_t>(col)]) {
                    image.set(pen + g.left + col, baseline - g.top + row, index);
                }
            }
        }
        pen += g.advance;
    }
}

common::Status fontStatus()
{
    if (const auto& error = face().error()) {
        return common::permanent(*error);
    }
    return {};
}

} // namespace mapservice
