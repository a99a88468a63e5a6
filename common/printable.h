#pragma once

#include <string>

namespace common {

// |text| with every control character (bytes below 0x20 and 0x7F: a line break, ESC, BEL ...)
// shown as "?", so that text from outside stays on its line and cannot steer a terminal.
inline std::string printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

} // namespace common
