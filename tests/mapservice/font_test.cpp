#include "mapservice/draw/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace mapservice;

int ink(const std::string& text, int size)
{
    IndexedImage image(200, 60, 0);
    drawText(image, 2, 2, text, size, 1);
    return static_cast<int>(std::count(image.pixels.begin(), image.pixels.end(), 1));
}

TEST(Font, EveryCharacterOfACreditComesOutWhole)
{
    const common::Status font = fontStatus();
    ASSERT_TRUE(font.ok()) << font.error().text;
    // Beyond the digits and N S E W Z of a hand-made font: letters of both cases and the
    // copyright sign, each of them drawn (a blank draws nothing but moves on).
    const std::string credit = "© OpenStreetMap contributors, Ünterwäßer";
    std::size_t i = 0;
    while (i < credit.size()) {
        const std::size_t length = (credit[i] & 0x80) == 0 ? 1 : (credit[i] & 0xe0) == 0xc0 ? 2 : 3;
        const std::string character = credit.substr(i, length);
        i += length;
        EXPECT_GT(textWidth(character, 11), 0) << character;
        if (character != " ") {
            EXPECT_GT(ink(character, 11), 0) << character;
        }
    }
    EXPECT_GT(textWidth(credit, 26), textWidth(credit, 11) * 2);
    EXPECT_GT(lineHeight(26), lineHeight(11) * 2);
}

TEST(Font, TextIsClippedAndBrokenUtf8IsNoFault)
{
    IndexedImage small(5, 5, 0);
    drawText(small, -1000, 3, "W\xff\xc3", 26, 1); // far outside, a broken sequence
    EXPECT_EQ(std::count(small.pixels.begin(), small.pixels.end(), 1), 0);
    drawText(small, -4, -8, "W", 26, 1); // a glyph larger than the picture, partly outside
    EXPECT_GT(std::count(small.pixels.begin(), small.pixels.end(), 1), 0);
}

} // namespace
