#pragma once

#include <string>

namespace common {

// |text| with every character that could move or reorder what a terminal or a window shows
// written as "?": the control characters of ASCII (below 0x20 and 0x7F: a line break, ESC,
// BEL ...) and of Latin-1 (U+0080 to U+009F), the line and paragraph separators, and the
// marks that turn the direction of text (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069), so that text from outside stays on its line, reads as it is stored, and cannot steer
// a terminal. Other UTF-8 stays as it is.
inline std::string printable(std::string text)
{
    std::string out;
    out.reserve(text.size());
    const auto byte = [&text](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned c0 = byte(i);
        const unsigned c1 = byte(i + 1);
        const unsigned c2 = byte(i + 2);
        // The length of a character to show as "?", else 0.
        std::size_t length = 0;
        if (c0 < 0x20 || c0 == 0x7F) {
            length = 1;
        } else if ((c0 == 0xC2 && c1 >= 0x80 && c1 <= 0x9F) || (c0 == 0xD8 && c1 == 0x9C)) {
            length = 2; // U+0080 to U+009F, U+061C
        } else if (c0 == 0xE2 &&
                   ((c1 == 0x80 && (c2 == 0x8E || c2 == 0x8F || (c2 >= 0xA8 && c2 <= 0xAE))) ||
                    (c1 == 0x81 && c2 >= 0xA6 && c2 <= 0xA9))) {
            length = 3; // U+200E, U+200F, U+2028 to U+202E, U+2066 to U+2069
        }
        if (length > 0) {
            out += '?';
            i += length;
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

} // namespace common
