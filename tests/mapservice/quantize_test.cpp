#include "mapservice/draw/quantize.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace mapservice;

// A picture of |colours| distinct colours, each a run of |run| pixels.
RgbImage distinctColours(int colours, int run)
{
    RgbImage image(colours * run, 2, {0, 0, 0});
    for (int x = 0; x < image.width; ++x) {
        const int i = x / run;
        for (int y = 0; y < 2; ++y) {
            image.at(x, y) = {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i % 5),
                              static_cast<std::uint8_t>(255 - i)};
        }
    }
    return image;
}

Rgb shown(const Picture& p, std::size_t i)
{
    return p.palette[p.image.pixels[i]];
}

TEST(Quantize, UpTo256ColoursStayExact)
{
    for (const int colours : {1, 11, 256}) {
        const RgbImage image = distinctColours(colours, 3);
        const Picture picture = quantize(image);
        EXPECT_EQ(picture.palette.size(), static_cast<std::size_t>(colours));
        for (std::size_t i = 0; i < image.pixels.size(); ++i) {
            ASSERT_EQ(shown(picture, i), image.pixels[i]) << colours << " colours, pixel " << i;
        }
    }
}

TEST(Quantize, MoreColoursComeCloseWith256)
{
    // A photo-like picture: every colour of a smooth gradient, tens of thousands of them.
    RgbImage image(400, 300, {0, 0, 0});
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            image.at(x, y) = {static_cast<std::uint8_t>(x * 255 / 399),
                              static_cast<std::uint8_t>(y * 255 / 299),
                              static_cast<std::uint8_t>((x + y) % 256)};
        }
    }
    const Picture picture = quantize(image);
    ASSERT_LE(picture.palette.size(), 256u);
    EXPECT_GT(picture.palette.size(), 200u);
    double error = 0;
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgb a = image.pixels[i];
        const Rgb b = shown(picture, i);
        error += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
    EXPECT_LT(error / static_cast<double>(image.pixels.size()), 30) << "mean error per pixel";
}

} // namespace
