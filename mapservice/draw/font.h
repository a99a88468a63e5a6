#pragma once

#include "common/result.h"
#include "mapservice/draw/image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

// Text in DejaVu Sans through FreeType, |size| pixels to the em, from UTF-8 ("©" included).
// Glyphs are drawn without smoothing (a pixel is set where the glyph covers at least half of
// it), so a picture keeps its flat colours. Each thread keeps its own FreeType face.

// Width in pixels of |text|.
int textWidth(std::string_view text, int size);

// Height in pixels of a line of text, from its top to the lowest descender.
int lineHeight(int size);

// Draws |text| with the top of its line at |x|, |top|; clipped to the picture.
void drawText(IndexedImage& image, int x, int top, std::string_view text, int size,
              std::uint8_t index);

// Whether the font can be read, and why not; without it pictures have no text.
common::Status fontStatus();

} // namespace mapservice
