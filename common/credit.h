#pragma once

// A map's credit as it travels from a source through the service's Map-Credit header into the
// downloader's files: one line of plain UTF-8, at most maxCreditBytes long. Plain C++, shared by
// the service and the downloader, each of which cleans what it is given.
#include <string>
#include <string_view>

namespace common {

constexpr std::size_t maxCreditBytes = 200;

// |text| without HTML tags, control characters and bytes that are not UTF-8; runs of blanks
// become one, and the result is cut, at a character's boundary, to maxCreditBytes.
inline std::string cleanCredit(std::string_view text)
{
    std::string out;
    bool inTag = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        bool whole = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!whole) {
            ++i; // not UTF-8: dropped
            continue;
        }
        if (length == 1) {
            if (c == '<') {
                inTag = true;
            } else if (c == '>' && inTag) {
                inTag = false;
            } else if (!inTag) {
                const bool blank = c < 0x20 || c == 0x7F || c == ' ';
                if (!blank) {
                    out += static_cast<char>(c);
                } else if (!out.empty() && out.back() != ' ') {
                    out += ' ';
                }
            }
        } else if (!inTag) {
            if (out.size() + length > maxCreditBytes) {
                break;
            }
            out.append(text.substr(i, length));
        }
        i += length;
        if (out.size() >= maxCreditBytes) {
            out.resize(maxCreditBytes);
            break;
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

} // namespace common
